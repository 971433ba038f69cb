#include "kernel/files/LidarRecorder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/ErrorLogger.h"
#include "kernel/files/LidFileAccess.h"
#include "kernel/LidarAcquisition.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;

namespace {
// A live source without hardware: the test sets its state and feeds records.
class TBenchSource : public TLidarAcquisition {
 public:
  using TLidarAcquisition::TLidarAcquisition;
  std::string GetSerialNumber() override { return "SN000042"; }
};

struct TBlock {
  char kind;  // 'D' data, 'E' event
  int channel;
  std::string text;
};
}  // namespace

class LidarRecorderTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidarRecorderTest() {
    TIniFile def;
    def.LoadFromText("[General]\nName=Rec Test\n[Instruments]\n[ChannelGroup1]\nGroupID=1\n"
                     "[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=DEV P\nDoorsCount=4\nDoorsByte=2\n"
                     "[Channel2]\nRecordID=10\nGroupID=1\nName=M\nUSB=DEV M\nProtocol=LIDAR_MONITOR\nCH1=NAME:T\n");
    config.LidarConfig.Load(def);
    config.DataFolder = (dir / "LidData").string();
    source = std::make_unique<TBenchSource>(&config);
    recorder = std::make_unique<TLidarRecorder>(&config);
    recorder->Attach(source.get());
  }
  ~LidarRecorderTest() override {
    recorder.reset();
    source.reset();
  }
  void LaserOn() {
    source->Status.SetConnectState(TState::Connected);
    source->Status.SetPowerState(TState::LaserOn);
  }
  void Shot(TDateTime t, uint8_t value = 7) {
    const uint8_t bytes[8] = {0, value, 0, value, 0, value, 0, value};
    source->DispatchRecord(1, bytes, 8, t);
  }
  static std::vector<TBlock> ReadBack(const fs::path& path, const TApplicationConfig& settings) {
    std::vector<TBlock> blocks;
    TLidFileAccess file(path, settings);
    EXPECT_EQ(file.OpenForReading(), 0) << path;
    file.OnData = [&](int ch, const uint8_t* d, size_t n, TDateTime) {
      blocks.push_back({'D', ch, std::string(reinterpret_cast<const char*>(d), n)});
    };
    file.OnEvent = [&](int ch, const std::string& code, const std::string& text, TDateTime) {
      blocks.push_back({'E', ch, code + text});
    };
    while (file.ReadBlocks(100) > 0) {
    }
    return blocks;
  }
  fs::path FileFor(int y, int mo, int d, int h) {
    return TLidarRecorder(&config).SlicePath(EncodeDateTime(y, mo, d, h, 0, 0), "SN000042");
  }

  TTempDir dir;
  TApplicationConfig config;
  std::unique_ptr<TBenchSource> source;
  std::unique_ptr<TLidarRecorder> recorder;
};

TEST_F(LidarRecorderTest, SlicesAreWholeHoursAndTheFolderTreeFollowsTheMonth) {
  EXPECT_EQ(FileFor(2026, 12, 7, 10),
            fs::path(config.DataFolder) / "DIR_SN000042" / "202612" / "LID_SN000042_20261207_1000.skv2");
  EXPECT_DOUBLE_EQ(TLidarRecorder::SliceStart(EncodeDateTime(2026, 12, 7, 10, 59, 59, 900)),
                   EncodeDateTime(2026, 12, 7, 10, 0, 0));
  EXPECT_DOUBLE_EQ(TLidarRecorder::SliceStart(EncodeDateTime(2026, 12, 7, 11, 0, 0, 0)),
                   EncodeDateTime(2026, 12, 7, 11, 0, 0));
  // A serial number is never allowed to leave the data folder.
  EXPECT_EQ(recorder->SlicePath(EncodeDateTime(2026, 1, 1), "../x/y").parent_path().parent_path().filename(),
            "DIR_.._x_y");
  EXPECT_EQ(recorder->SlicePath(EncodeDateTime(2026, 1, 1), "..").parent_path().parent_path().filename(), "DIR___");
  EXPECT_EQ(recorder->SlicePath(EncodeDateTime(2026, 1, 1), "LS261001 104532P").filename(),
            "LID_LS261001_104532P_20260101_0000.skv2");

  LaserOn();
  Shot(EncodeDateTime(2026, 12, 7, 10, 59, 59, 900));
  Shot(EncodeDateTime(2026, 12, 7, 11, 0, 0, 0));
  Shot(EncodeDateTime(2026, 12, 31, 23, 59, 0, 0));
  Shot(EncodeDateTime(2027, 1, 1, 0, 0, 30, 0));
  recorder.reset();  // closes the last file
  for (auto path : {FileFor(2026, 12, 7, 10), FileFor(2026, 12, 7, 11), FileFor(2026, 12, 31, 23), FileFor(2027, 1, 1, 0)}) {
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(ReadBack(path, config).size(), 1u) << path;
  }
  EXPECT_TRUE(fs::is_directory(fs::path(config.DataFolder) / "DIR_SN000042" / "202701"));
  EXPECT_TRUE(LogLines.empty()) << LogLines.front();
}

TEST_F(LidarRecorderTest, NothingIsWrittenUnlessTheLaserIsOn) {
  const TDateTime t = EncodeDateTime(2026, 12, 7, 10, 30, 0);
  source->Status.SetConnectState(TState::Connected);
  source->Status.SetPowerState(TState::LaserWarmup);
  Shot(t);
  source->SendEvent(0, t, "NOT", "warming up");
  EXPECT_FALSE(fs::exists(config.DataFolder));
  EXPECT_EQ(recorder->CurrentFile(), nullptr);
}

TEST_F(LidarRecorderTest, EventsAndRecordsOfOneSliceShareAFileInArrivalOrder) {
  LaserOn();
  const TDateTime t = EncodeDateTime(2026, 12, 7, 10, 30, 0);
  Shot(t, 1);
  source->SendEvent(0, t + 1e-6, "NOT", "cloud overhead");
  const double measure = 21.5;
  source->DispatchRecord(10, reinterpret_cast<const uint8_t*>(&measure), 8, t + 2e-6);
  Shot(t + 3e-6, 2);
  recorder.reset();
  const auto blocks = ReadBack(FileFor(2026, 12, 7, 10), config);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].kind, 'D');
  EXPECT_EQ(blocks[1].kind, 'E');
  EXPECT_EQ(blocks[1].text, "NOTcloud overhead");
  EXPECT_EQ(blocks[2].channel, 10);
  EXPECT_EQ(blocks[3].text[1], 2);
}

TEST_F(LidarRecorderTest, AnUnwritableDataFolderLogsTheOpenErrorOnceThenReadOnlyErrors) {
  dir.WriteFile("blocker", "a file where the data folder should be");
  config.DataFolder = (dir / "blocker").string();
  LaserOn();
  const TDateTime t = EncodeDateTime(2026, 12, 7, 10, 30, 0);
  Shot(t);
  Shot(t + 1.0 / 86400);
  Shot(t + 2.0 / 86400);
  int opens = 0, writes = 0;
  for (const auto& l : LogLines) {
    if (l.find("Error opening for writing a skv2 file <") != std::string::npos) ++opens;
    if (l.find("Error writing acquisition in skv2 file <") != std::string::npos) ++writes;
  }
  EXPECT_EQ(opens, 1);
  // The second identical write error is counted by the message log, not repeated.
  EXPECT_EQ(writes, 1);
  EXPECT_EQ(TErrorLogger::Instance().RepeatCount(), 1);
  EXPECT_NE(LogLines.back().find("Read Only mode"), std::string::npos);
}
