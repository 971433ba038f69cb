#include "kernel/LidarApplication.h"

#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;

class LidarApplicationTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidarApplicationTest() {
    app = TLidarApplication::GetInstance();
    auto store = std::make_unique<TIniFile>();
    storePtr = store.get();
    app->SetStore(std::move(store));
  }
  ~LidarApplicationTest() override { TLidarApplication::DestroyInstance(); }
  TLidarApplication* app;
  TIniFile* storePtr;
  TTempDir dir;
};

TEST_F(LidarApplicationTest, SwitchesAreCaseInsensitiveWithOneOrTwoDashes) {
  const std::string file = (dir / "a.skv2").string();
  dir.WriteFile("a.skv2", "x");
  EXPECT_TRUE(app->ParseCommandLine({"-debug", "--Simulate", "-HEADLESS", "-duration=20", "", "missing.skv2"}));
  EXPECT_TRUE(app->Options.Simulate);
  EXPECT_TRUE(app->Options.Headless);
  EXPECT_DOUBLE_EQ(app->Options.DurationSeconds, 20);
  EXPECT_TRUE(app->CommandLineFiles.empty());  // a missing file is ignored
  // An absolute path is a file on this platform, not a switch.
  EXPECT_FALSE(app->ParseCommandLine({file}));
  EXPECT_EQ(app->CommandLineFiles, std::vector<std::string>{file});
  EXPECT_FALSE(app->Config.ExportMode);
}

TEST_F(LidarApplicationTest, ModelAndExpSwitchesTakeTheirValue) {
  app->ParseCommandLine({"-model", "Other.ini", "-ExpConfig", "batch.ini", "-EXPORT"});
  EXPECT_EQ(app->Options.Model, "Other.ini");
  EXPECT_EQ(app->Options.ExportConfigFile, "batch.ini");
  EXPECT_TRUE(app->Config.ExportMode);
  EXPECT_TRUE(app->Config.BatchExport);
  EXPECT_FALSE(app->Config.AcquisitionMode);
  // "MODEL" last without a value is ignored; unknown switches are kept to be reported.
  TLidarApplication::DestroyInstance();
  app = TLidarApplication::GetInstance();
  app->ParseCommandLine({"-Frobnicate", "-EXPFOO", "/nonexistent/x", "-MODEL"});
  EXPECT_EQ(app->Options.Model, "");
  EXPECT_EQ(app->Options.UnknownSwitches, std::vector<std::string>{"-Frobnicate"});
  EXPECT_TRUE(app->CommandLineFiles.empty());  // taken as the value of -EXPFOO
  app->ParseCommandLine({"--help", "-DURATION=abc", "-screenshot=a.png"});
  EXPECT_EQ(app->Options.Screenshot, "a.png");
  app->ParseCommandLine({"SCREENSHOT=/tmp/b.png"});
  EXPECT_EQ(app->Options.Screenshot, "/tmp/b.png");
  EXPECT_TRUE(app->IgnoredFiles.empty());
  EXPECT_TRUE(app->Options.Help);
  EXPECT_EQ(app->Options.UnknownSwitches.back(), "-DURATION=abc");
}

TEST_F(LidarApplicationTest, SetFoldersStoresForTheNextStartOnlyWhatChanged) {
  app->LoadConfig();
  const std::string oldLog = app->Config.LogFolder, oldData = app->Config.DataFolder;
  app->SetFolders("/data/lidar//", "/exports\\", "", "");
  EXPECT_EQ(app->StoredFolders().Data, "/data/lidar");
  EXPECT_EQ(app->StoredFolders().Export, "/exports");
  EXPECT_EQ(storePtr->ReadString("Skyvane", "DataFolder", ""), "/data/lidar");
  EXPECT_EQ(storePtr->ReadString("Skyvane\\Export", "Folder", ""), "/exports");
  EXPECT_FALSE(storePtr->ValueExists("Skyvane", "LogFolder"));
  // The running recorder keeps its folder; a later save keeps the new one.
  EXPECT_EQ(app->Config.DataFolder, oldData);
  app->SaveConfig();
  EXPECT_EQ(storePtr->ReadString("Skyvane", "DataFolder", ""), "/data/lidar");
  EXPECT_EQ(storePtr->ReadString("Skyvane", "LogFolder", ""), oldLog);
  app->LoadConfig();
  EXPECT_EQ(app->Config.DataFolder, "/data/lidar");
}

TEST_F(LidarApplicationTest, InitLoadsTheDefinitionAndRunsTheTimerUntilExit) {
  dir.WriteFile("LidConf/Mini.ini",
                "[General]\nName=Mini\n[Instruments]\n[ChannelGroup1]\nGroupID=1\n"
                "[Channel1]\nRecordID=1\nGroupID=1\nName=532\nUSB=ORML A\n");
  storePtr->WriteString("Skyvane", "ConfigFolder", (dir / "LidConf").string());
  storePtr->WriteString("Skyvane", "CurrentInstrument", "Mini.ini");
  ASSERT_TRUE(app->Init(true));
  EXPECT_TRUE(app->DefinitionLoaded());
  EXPECT_EQ(app->Config.LidarConfig.Name, "Mini");
  EXPECT_NE(app->Config.DefinitionText.find("[Channel1]"), std::string::npos);
  EXPECT_EQ(Loop.TimerCount(), 1u);
  app->Exit();
  EXPECT_EQ(Loop.TimerCount(), 0u);
  EXPECT_TRUE(app->Config.LidarConfig.Channels.empty());
  // "MODEL" names another file for this run; a missing file leaves the definition empty.
  app->Options.Model = "Missing.ini";
  EXPECT_FALSE(app->LoadConfig());
  EXPECT_FALSE(app->DefinitionLoaded());
}

TEST_F(LidarApplicationTest, ADefinitionTextARecordedFileCannotHoldWholeIsRefused) {
  const std::string head =
      "[General]\nName=Big\n[ChannelGroup1]\nGroupID=1\n[Channel1]\nRecordID=1\nGroupID=1\nName=A\nUSB=A\n";
  storePtr->WriteString("Skyvane", "ConfigFolder", dir.Path().string());
  for (const size_t size : {TLidarConfig::MaxTextSize, TLidarConfig::MaxTextSize + 1}) {
    // Padded with a comment line up to the size.
    dir.WriteFile("Big.ini", head + ";" + std::string(size - head.size() - 2, 'x') + "\n");
    app->Options.Model = "Big.ini";
    const bool fits = size == TLidarConfig::MaxTextSize;
    EXPECT_EQ(app->LoadConfig(), fits) << size;
    EXPECT_EQ(app->DefinitionError().empty(), fits) << app->DefinitionError();
    EXPECT_EQ(app->Config.DefinitionText.size(), fits ? size : 0u);
  }
  EXPECT_EQ(app->DefinitionError(), "instrument definition " + (dir / "Big.ini").string() +
                                        " refused: The definition is 65521 bytes long; a recorded file holds at "
                                        "most 65520 bytes of it");
  ASSERT_EQ(Prompt.Warnings.size(), 1u);
}
