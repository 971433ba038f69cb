// The export manager on a test source: only completed profiles are written,
// a calibration start completes the profiles before its own line, and
// stopping mid-profile writes nothing for that profile.
#include "Export/ExportManager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Config/ApplicationConfig.h"
#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"
#include "tests/kernel/processing/ProcessingFixture.h"

using namespace OrlaqLidar;
using namespace OrlaqExport;
using OrlaqLidar::Test::At;
namespace fs = std::filesystem;

namespace {

class ExportManagerTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  ExportManagerTest() {
    settings.LidarConfig.Channels.push_back(OrlaqLidar::Test::MakeLidarChannel(1, 4, true));
    settings.Setup.Calibrations.push_back(std::make_unique<TCalibration>(1, TChannelType::Lidar, 4u));
    TExportConfig config;
    config.Folder = (dir / "exp").string();
    config.FilePattern = "out";
    config.MinutesSlice = 0;
    config.ColumnDelimiter = ",";
    config.DateFormat = 1;
    config.Processing = TProcessingSetup(2, 60);  // raw counts: easy to check
    parameters = TExportParameters(config);
    manager = std::make_unique<TExportManager>(settings, &source);
  }

  void Shot(TDateTime t, unsigned count = 10) {
    const std::vector<unsigned> counts(4, count);
    std::vector<uint8_t> b;
    for (unsigned c : counts) b.insert(b.end(), {static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
    b.insert(b.end(), {0x03, 0xE8});
    source.DispatchRecord(1, b.data(), static_cast<int>(b.size()), t);
  }

  // The tags of the export file's record lines (no header, no definitions).
  std::vector<std::string> Lines() const {
    std::ifstream in(dir / "exp" / "out.txt", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
      const std::string tag = l.substr(0, l.find(','));
      if (tag == "DP" || tag == "EVENT") lines.push_back(tag);
    }
    return lines;
  }

  OrlaqLidar::Test::TTempDir dir;
  TApplicationConfig settings;
  OrlaqLidar::Test::TTestSource source;
  TExportParameters parameters;
  std::unique_ptr<TExportManager> manager;
};

}  // namespace

TEST_F(ExportManagerTest, WithoutAFormatThereIsNoExport) {
  EXPECT_EQ(manager->GetDescription(), "no export");
  parameters.Type = "Spreadsheet";
  EXPECT_FALSE(manager->Start(&parameters));
  EXPECT_EQ(manager->GetDescription(), "no export");
  Shot(At(10, 0, 5));
  Shot(At(10, 1, 5));
  EXPECT_FALSE(fs::exists(dir / "exp"));
}

TEST_F(ExportManagerTest, OnlyCompletedProfilesAreWritten) {
  ASSERT_TRUE(manager->Start(&parameters));
  Shot(At(10, 0, 5));
  Shot(At(10, 0, 30));
  EXPECT_TRUE(Lines().empty());  // the running profile reached the manager, nothing was written
  Shot(At(10, 1, 0));
  ASSERT_EQ(Lines(), (std::vector<std::string>{"DP"}));
  EXPECT_NE(manager->GetDescription().find("out.txt"), std::string::npos);
  EXPECT_EQ(manager->Failures(), 0);
}

TEST_F(ExportManagerTest, CalibrationStartCompletesProfilesBeforeItsEventLine) {
  ASSERT_TRUE(manager->Start(&parameters));
  Shot(At(10, 0, 5));
  Shot(At(10, 0, 10));
  source.DispatchEvent(1, "SAP", At(10, 0, 12), "");
  Shot(At(10, 0, 20));
  source.DispatchEvent(1, "EAP", At(10, 0, 25), "Finished");
  Shot(At(10, 1, 1));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"DP", "EVENT", "EVENT", "DP"}));
}

TEST_F(ExportManagerTest, StoppingMidProfileWritesNothingForIt) {
  ASSERT_TRUE(manager->Start(&parameters));
  Shot(At(10, 0, 5));
  Shot(At(10, 1, 5));
  Shot(At(10, 1, 30));
  manager.reset();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"DP"}));
  // Nothing is left registered on the source.
  Shot(At(10, 2, 5));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"DP"}));
}
