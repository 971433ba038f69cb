#include "Export/TextExport.h"

#include <gtest/gtest.h>

#include <map>

#include <clocale>
#include <fstream>
#include <locale>
#include <map>
#include <sstream>

#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Export/ExportPattern.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using namespace OrlaqExport;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int CountLines(const std::string& text, const std::string& tag) {
  int n = 0;
  for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
    if (at == 0 || text[at - 1] == '\n') ++n;
  return n;
}

class TextExport : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  TextExport() {
    Definition.Code = "ORL-X";
    Definition.Groups[1] = std::make_unique<TGroupConfig>(1);
    auto lidar = std::make_unique<TChannelConfig>();
    lidar->RecordID = 1;
    lidar->GroupID = 1;
    lidar->Name = "Lid,532";
    lidar->DoorsUsed = 3;
    lidar->FWHM = 0.5;
    lidar->Polarization = 'P';
    Definition.Channels.push_back(std::move(lidar));
    auto monitor = std::make_unique<TChannelConfig>();
    monitor->RecordID = 20;
    monitor->GroupID = 1;
    monitor->Name = "Mon";
    monitor->Protocol = "LIDAR_MONITOR";
    for (const char* name : {"Temp", "Volt"}) {
      auto info = std::make_unique<TInfoDescription>();
      info->Name = name;
      info->Unit = name[0] == 'T' ? "degC" : "V";
      if (name[0] == 'T') info->Options = "CODE:TMP";
      monitor->InfoDescriptions.push_back(std::move(info));
    }
    Definition.Channels.push_back(std::move(monitor));
    Definition.AirinsConfig.RecordID = 99;

    Setup.LatitudeBase = 45.5;
    Setup.LongitudeBase = 5.25;
    Setup.AltitudeBase = 120;
    // No calibration file in the folder: the detector defaults only.
    Setup.BuildCalibrations(Dir.Path().string(), Definition.Channels);

    Config.Folder = (Dir / "exp").string();
    Config.ColumnDelimiter = ",";
    Config.DateFormat = 1;
    Clock.SetNow(EncodeDateTime(2014, 3, 5, 3, 20, 0));
    Arguments = std::make_unique<TProcessingArgs>(Config.Processing, &Definition, &Setup);
    Managed = std::make_unique<TManagedProfile>(1, Definition.Channels.front().get(), nullptr, 60, Arguments.get());
    Managed->Signal = {1.5, 0.1, 1e6};
    Managed->ShotRecords = 60;
    Managed->Background = 2.25;
    Managed->Open = false;
  }

  void Start(TTextExport& e) {
    Params = TExportParameters(Config);
    e.SetArguments(Arguments.get());
    e.SetParameters(&Params);
  }

  TProfile Profile(TDateTime start) {
    Managed->StartTime = start;
    Managed->LastTime = start + 59.0 / SecondsPerDay;
    return TProfile(Managed.get());
  }

  fs::path File(const char* slice) const { return Dir / "exp" / ("00000000_20140305_" + std::string(slice) + ".txt"); }

  OrlaqLidar::Test::TTempDir Dir;
  TLidarConfig Definition;
  TLidarSetup Setup;
  TExportConfig Config;
  TExportParameters Params;
  std::unique_ptr<TProcessingArgs> Arguments;
  std::unique_ptr<TManagedProfile> Managed;
  const TDateTime At0317 = EncodeDateTime(2014, 3, 5, 3, 17, 0);
};

const char* const NewFile =
    "### Created by Skyvane the: 2014-03-05 03:20:00\r\n"
    "# Instrument Serial Number: 00000000\r\n"
    "# File pattern: %SN%_%YYYY%%MM%%DD%_%SLICE%\r\n"
    "# Slice duration: 10 mn\r\n"
    "# Profile duration: 60 sec\r\n"
    "# Columns separator: ,\r\n"
    "# Date format: RFC3339\r\n"
    "###\r\n"
    "FILEV,1.1,Skyvane,2.06\r\n"
    "INSDEF,ORL-X,-,1,1,1,0\r\n"
    "INSCFG,UNK,45.5,5.25,120,0,0\r\n"
    "DCLID,1,1,\"Lid,532\",3,532,532,0.5,P,14.989623,1e-07,0,0,1\r\n"
    "DCMON,20,1,Mon,2,TMP,Temp,degC,,Volt,V\r\n"
    "DETPAR,1,2014-03-05T03:20:00.000,0,2.5e-08,300,0.55\r\n"
    "DP,1,2014-03-05T03:17:00.000,60,59,OSBR2,0,1.5,0.1,1000000,2.25,0\r\n";

}  // namespace

TEST_F(TextExport, ANewFileStartsWithCommentsAndDefinitions) {
  TTextExport e;
  Start(e);
  ASSERT_TRUE(e.WriteProfile(Profile(At0317)));
  EXPECT_EQ(e.GetDescription(), File("0019").string());
  EXPECT_EQ(ReadAll(File("0019")), NewFile);
  EXPECT_TRUE(LogLines.empty());
  e.Close();
  EXPECT_EQ(e.GetDescription(), "");
}

TEST_F(TextExport, TheSameBytesWhateverTheLocale) {
  for (const char* name : {"fr_FR.UTF-8", "de_DE.UTF-8"}) {
    fs::remove_all(Dir / "exp");
    const std::locale saved = std::locale::global(std::locale(name));
    std::setlocale(LC_ALL, name);
    {
      TTextExport e;
      Start(e);
      e.WriteProfile(Profile(At0317));
    }
    std::locale::global(saved);
    std::setlocale(LC_ALL, "");
    EXPECT_EQ(ReadAll(File("0019")), NewFile) << name;
  }
}

TEST_F(TextExport, AppendingWritesANewDefinitionBlockButNoHeader) {
  {
    TTextExport e;
    Start(e);
    e.WriteProfile(Profile(At0317));
  }
  TTextExport e;
  Start(e);
  ASSERT_TRUE(e.WriteEvent(TLidarEvent(At0317 + 60 / SecondsPerDay, 0, "USN", "two words")));
  const std::string text = ReadAll(File("0019"));
  EXPECT_EQ(text.substr(0, std::string(NewFile).size()), NewFile);
  EXPECT_EQ(CountLines(text, "### Created"), 1);
  EXPECT_EQ(CountLines(text, "FILEV"), 2);
  EXPECT_EQ(CountLines(text, "DETPAR"), 2);
  EXPECT_NE(text.find("\r\nEVENT,0,2014-03-05T03:18:00.000,USN,\"two words\"\r\n"), std::string::npos);
}

TEST_F(TextExport, AnUnendedLastLineGetsItsLineEnd) {
  const std::pair<const char*, const char*> cases[] = {{"abc", "abc\r\nFILEV"}, {"abc\n", "abc\nFILEV"}};
  for (const auto& [before, after] : cases) {
    Dir.WriteFile("exp/00000000_20140305_0019.txt", before);
    TTextExport e;
    Start(e);
    ASSERT_TRUE(e.WriteProfile(Profile(At0317)));
    EXPECT_EQ(ReadAll(File("0019")).substr(0, std::string(after).size()), after) << before;
  }
}

TEST_F(TextExport, ASliceChangeOpensTheNextFileWithItsOwnDefinitions) {
  TTextExport e;
  Start(e);
  ASSERT_TRUE(e.WriteProfile(Profile(EncodeDateTime(2014, 3, 5, 3, 9, 30))));
  ASSERT_TRUE(e.WriteProfile(Profile(EncodeDateTime(2014, 3, 5, 3, 10, 0))));
  // Older data goes to the file of the newest data time.
  ASSERT_TRUE(e.WriteProfile(Profile(EncodeDateTime(2014, 3, 5, 3, 9, 59))));
  for (const auto& [slice, profiles] : {std::pair{"0018", 1}, std::pair{"0019", 2}}) {
    const std::string text = ReadAll(File(slice));
    EXPECT_EQ(CountLines(text, "### Created"), 1) << slice;
    EXPECT_EQ(CountLines(text, "FILEV"), 1) << slice;
    EXPECT_EQ(CountLines(text, "DP,"), profiles) << slice;
  }
}

TEST_F(TextExport, LinesMadeBehindReachTheFilesInTheSameOrderAndBytes) {
  Config.LogMonitoring = true;
  const double values[] = {21.5, 12};
  std::map<std::string, std::string> files[2];
  for (const bool behind : {false, true}) {
    Config.Folder = (Dir / (behind ? "behind" : "inplace")).string();
    TTextExport e;
    Start(e);
    e.SetWorkBehind(behind);
    // Profiles, monitoring and events across three slices.
    for (int minute = 0; minute < 25; ++minute) {
      const TDateTime t = EncodeDateTime(2014, 3, 5, 3, minute, 0);
      Managed->Signal[1] = minute;
      EXPECT_TRUE(e.WriteProfile(Profile(t)));
      EXPECT_TRUE(e.WriteRawData(20, t, reinterpret_cast<const uint8_t*>(values), sizeof values));
      if (minute % 7 == 0) {
        EXPECT_TRUE(e.WriteEvent(TLidarEvent(t, 0, "USN", "note")));
      }
    }
    EXPECT_EQ(e.Flush(), 0);
    for (const auto& f : fs::directory_iterator(Config.Folder))
      files[behind][f.path().filename().string()] = ReadAll(f.path());
  }
  ASSERT_EQ(files[0].size(), 3u);
  EXPECT_EQ(files[1], files[0]);
}

TEST_F(TextExport, MonitoringAndInsLinesOnlyWithLogMonitoring) {
  Definition.Airins = true;
  const double values[] = {21.5, 12};
  uint8_t ins[35] = {0, 0, 0x03, 0xE8, 50};  // 1000.5 s, heading raw 0
  for (const bool logMonitoring : {false, true}) {
    fs::remove_all(Dir / "exp");
    Config.LogMonitoring = logMonitoring;
    TTextExport e;
    Start(e);
    EXPECT_TRUE(e.WriteRawData(20, At0317, reinterpret_cast<const uint8_t*>(values), sizeof values));
    EXPECT_TRUE(e.WriteRawData(99, At0317, ins, sizeof ins));
    EXPECT_TRUE(e.WriteRawData(99, At0317, ins, 34));  // not a valid INS record: no line
    EXPECT_TRUE(e.WriteRawData(7, At0317, ins, sizeof ins));  // unknown channel: no line
    EXPECT_TRUE(e.WriteProfile(Profile(At0317)));
    EXPECT_TRUE(e.WriteEvent(TLidarEvent(At0317, 0, "SAP", "")));
    const std::string text = ReadAll(File("0019"));
    EXPECT_EQ(CountLines(text, "DP,"), 1);
    EXPECT_EQ(CountLines(text, "EVENT,"), 1);
    EXPECT_EQ(CountLines(text, "DM,"), logMonitoring ? 1 : 0);
    EXPECT_EQ(CountLines(text, "DI,"), logMonitoring ? 1 : 0);
    EXPECT_NE(text.find("DCIMU,99,AIRINS,13,TIME,LAT,LON,ALT,NVEL,EVEL,DVEL,ROLL,PITCH,HEAD,RX1,RX2,RX3\r\n"),
              std::string::npos);
    if (logMonitoring) {
      EXPECT_NE(text.find("\r\nDM,20,2014-03-05T03:17:00.000,0,0,21.5,12\r\n"), std::string::npos);
      EXPECT_NE(text.find("\r\nDI,99,2014-03-05T03:17:00.000,1000.5,0,0,0,0,0,0,0,0,360,0,0,0\r\n"),
                std::string::npos);
    }
  }
}

TEST_F(TextExport, CalibrationLinesFollowWhatWasLoaded) {
  TCalibration& cal = *Setup.FindCalibration(1);
  TTextExport e;
  Start(e);
  e.WriteProfile(Profile(At0317));
  std::string text = ReadAll(File("0019"));
  EXPECT_EQ(CountLines(text, "OVL"), 0);
  EXPECT_EQ(CountLines(text, "AFPL"), 0);
  e.Close();

  cal.ApdFlag = 1;
  cal.OverlapState = cal.AfterPulseState = TCalibration::StatePresent;
  cal.OverlapInverse = {2, 4};  // shorter than the gates
  cal.AfterPulse = {0.5, 0.25, 0.125};
  e.WriteProfile(Profile(At0317));
  text = ReadAll(File("0019"));
  EXPECT_NE(text.find("\r\nDETPAR,1,2014-03-05T03:20:00.000,1\r\n"
                      "OVL,1,2014-03-05T03:20:00.000,0.5,0.25,1\r\n"
                      "AFPL,1,2014-03-05T03:20:00.000,0.5,0.25,0.125\r\n"),
            std::string::npos);
}

TEST_F(TextExport, AFileHeldByAnotherExportIsNotOpened) {
  TTextExport first, second;
  Start(first);
  TExportParameters params(Config);
  second.SetArguments(Arguments.get());
  second.SetParameters(&params);
  ASSERT_TRUE(first.WriteProfile(Profile(At0317)));
  EXPECT_FALSE(second.WriteProfile(Profile(At0317)));
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("> Can't open export file <" + File("0019").string() + "> (lock: "), std::string::npos)
      << LogLines[0];
  EXPECT_EQ(CountLines(ReadAll(File("0019")), "DP,"), 1);
}

TEST_F(TextExport, AnExportFolderThatCannotBeCreatedWritesNothing) {
  Dir.WriteFile("plain", "x");
  Config.Folder = (Dir / "plain" / "exp").string();
  TTextExport e;
  Start(e);
  EXPECT_FALSE(e.WriteProfile(Profile(At0317)));
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_TRUE(LogLines[0].ends_with("> Can't access/create export folder <" + Config.Folder + ">")) << LogLines[0];
  EXPECT_EQ(e.GetDescription(), "");
}

TEST_F(TextExport, AnUnknownPlaceholderIsKeptAndLoggedOnce) {
  Config.FilePattern = "%yyyy%_%SN%";
  TTextExport e;
  Start(e);
  ASSERT_TRUE(e.WriteProfile(Profile(At0317)));
  ASSERT_TRUE(e.WriteProfile(Profile(At0317)));
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("%yyyy%"), std::string::npos);
  EXPECT_TRUE(fs::exists(Dir / "exp" / "%yyyy%_00000000.txt"));
}
