#include "kernel/files/LidarRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

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

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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
  // The slice file of the simulated clock's hour (12:00).
  fs::path HourFile() { return FileFor(2026, 6, 15, 12); }

  // Numbered shots at the simulated clock's time, everyMs apart.
  void Shots(int first, int count, uint64_t everyMs = 100) {
    for (int i = first; i < first + count; ++i) {
      const uint8_t bytes[8] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0, 0, 0, 0, 0};
      source->DispatchRecord(1, bytes, 8, Clock.NowUTC());
      Clock.AdvanceMs(everyMs);
    }
  }
  // The numbers of the shots a file holds, in file order.
  std::vector<int> ShotNumbers(const fs::path& path) {
    std::vector<int> numbers;
    for (const TBlock& b : ReadBack(path, config))
      numbers.push_back(static_cast<uint8_t>(b.text[0]) | static_cast<uint8_t>(b.text[1]) << 8);
    return numbers;
  }
  static std::vector<int> Range(int first, int count) {
    std::vector<int> v;
    for (int i = first; i < first + count; ++i) v.push_back(i);
    return v;
  }
  int LinesWith(const std::string& text) const {
    return static_cast<int>(std::count_if(LogLines.begin(), LogLines.end(),
                                          [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }
  void NewRecorder() {
    recorder = std::make_unique<TLidarRecorder>(&config);
    recorder->Attach(source.get());
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

TEST_F(LidarRecorderTest, AnUnwritableDataFolderIsTriedAgainEveryTenSecondsWhileTheStatusCountsTheLoss) {
  dir.WriteFile("blocker", "a file where the data folder should be");
  config.DataFolder = (dir / "blocker").string();
  std::vector<uint64_t> notices;  // the count at each recording notice
  source->AddStatusConsumer(
      this,
      [&](TStatus* status, TState::ChangeRaison reason) {
        if (reason & TState::Recording) notices.push_back(status->RecordsNotWritten());
      },
      10);
  LaserOn();
  Shots(0, 50);  // 5 s: one open, failed
  EXPECT_EQ(source->Status.RecordsNotWritten(), 50u);
  EXPECT_EQ(source->Status.RecordingErrorText(), "recording error: 50 records not written");
  EXPECT_EQ(LinesWith("Error opening for writing a skv2 file <"), 1);
  Shots(50, 70);  // to 12 s: tried again at 10 s, failed again, logged once
  EXPECT_EQ(LinesWith("Error opening for writing a skv2 file <"), 1);

  // The folder can be made now; the next try, 10 s after the last, records.
  fs::remove(dir / "blocker");
  fs::create_directories(dir / "blocker");
  Shots(120, 80);  // to 19.9 s
  EXPECT_FALSE(fs::exists(HourFile()));
  EXPECT_EQ(source->Status.RecordsNotWritten(), 200u);
  Shots(200, 10);
  EXPECT_EQ(source->Status.RecordsNotWritten(), 0u);
  EXPECT_EQ(source->Status.RecordingErrorText(), "");
  EXPECT_EQ(notices, (std::vector<uint64_t>{1, 0}));  // raised once, cleared once
  EXPECT_EQ(LinesWith("after 200 records not written"), 1);
  recorder.reset();
  EXPECT_EQ(ShotNumbers(HourFile()), Range(200, 10));
  source->RemoveStatusConsumer(this);
}

TEST_F(LidarRecorderTest, ADamagedSliceFileIsMovedAsideByteForByteAndANewOneTakesTheRecords) {
  LaserOn();
  Shots(0, 3);
  recorder.reset();
  const std::string whole = ReadFileBytes(HourFile());
  TLidFileAccess reader(HourFile(), config);
  ASSERT_EQ(reader.OpenForReading(), 0);
  const size_t second = reader.DataStart() + 8 + 17;
  reader.Close();
  auto with = [&](size_t at, const std::string& bytes) { return std::string(whole).replace(at, bytes.size(), bytes); };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"header", with(4, "HEX2")},
      {"definition", with(whole.find("DEF1") + 4, std::string("\\x01\\x00\\x01\\x00", 4))},
      {"calibration", with(whole.find("CAL2"), "CAX2")},
      {"foreign magic", with(0, "NOPE")},
      {"damage in the middle", with(second, "XYZ9")},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(HourFile(), std::ios::binary | std::ios::trunc) << c.bytes;
    LogLines.clear();
    NewRecorder();
    Shots(100 + 10 * n, 2);
    EXPECT_EQ(source->Status.RecordsNotWritten(), 0u);
    recorder.reset();
    // Kept as it was, numbered beside the earlier ones.
    fs::path bad = HourFile();
    bad += n == 0 ? ".bad" : ".bad." + std::to_string(n);
    EXPECT_EQ(ReadFileBytes(bad), c.bytes);
    EXPECT_EQ(LinesWith("Damaged skv2 file <" + HourFile().string() + "> moved aside to <" + bad.string() + ">"), 1);
    EXPECT_EQ(ShotNumbers(HourFile()), Range(100 + 10 * n, 2));
    ++n;
  }
  EXPECT_EQ(ReadFileBytes(HourFile().string() + ".bad"), cases[0].bytes);
}

TEST_F(LidarRecorderTest, ADeletedDataFolderIsMadeAgainWithinASecondAndLosesNoRecord) {
  LaserOn();
  Shots(0, 25);
  fs::remove_all(config.DataFolder);
  Shots(25, 25);
  EXPECT_EQ(LinesWith("Recorded file <" + HourFile().string() + "> is deleted"), 1);
  EXPECT_EQ(source->Status.RecordsNotWritten(), 0u);
  recorder.reset();
  // The blocks written to the deleted file since the last check are carried over.
  const std::vector<int> kept = ShotNumbers(HourFile());
  ASSERT_FALSE(kept.empty());
  EXPECT_GT(kept.front(), 10) << "checked less than once a second";
  EXPECT_LE(kept.front(), 25);
  EXPECT_EQ(kept, Range(kept.front(), 50 - kept.front()));
}

TEST_F(LidarRecorderTest, AFolderMovedAwayKeepsItsFileWholeAndANewOneGoesOn) {
  LaserOn();
  Shots(0, 25);
  const fs::path moved = dir / "Archive";
  fs::rename(config.DataFolder, moved);
  Shots(25, 25);
  EXPECT_EQ(LinesWith("> is no longer at its place"), 1);
  recorder.reset();
  const fs::path old = moved / fs::relative(HourFile(), config.DataFolder);
  std::vector<int> all = ShotNumbers(old);  // read to its end mark
  const std::vector<int> now = ShotNumbers(HourFile());
  ASSERT_FALSE(now.empty());
  EXPECT_LE(now.front() - 25, 10) << "checked less than once a second";
  all.insert(all.end(), now.begin(), now.end());
  EXPECT_EQ(all, Range(0, 50));
}

TEST_F(LidarRecorderTest, FailingWritesAndFlushesAreReportedAndTheStatusClearsWhenWritingWorksAgain) {
  int failWrites = 0, syncs = 0;
  bool failSync = false;
  TLidFileStream::SetFaultHook([&](TLidFileStream::TCall call, const fs::path&) {
    if (call == TLidFileStream::TCall::Sync) {
      ++syncs;
      return failSync ? EIO : 0;
    }
    return call == TLidFileStream::TCall::Write && failWrites-- > 0 ? ENOSPC : 0;
  });
  struct TUnhook {
    ~TUnhook() { TLidFileStream::SetFaultHook(nullptr); }
  } unhook;
  LaserOn();
  Shots(0, 2);

  // Every status change puts the file on the disk.
  syncs = 0;
  source->Status.SetConnectState(TState::Connecting);
  EXPECT_EQ(syncs, 1);
  LaserOn();
  failSync = true;
  source->Status.SetPowerState(TState::LaserWarmup);
  EXPECT_EQ(LinesWith("Error flushing skv2 file <" + HourFile().string() + ">"), 1);
  failSync = false;
  LaserOn();

  failWrites = 3;
  Shots(2, 3);
  EXPECT_EQ(source->Status.RecordsNotWritten(), 3u);
  EXPECT_EQ(LinesWith("Error writing acquisition in skv2 file <" + HourFile().string() + ">"), 1);
  Shots(5, 2);
  EXPECT_EQ(source->Status.RecordsNotWritten(), 0u);
  EXPECT_EQ(LinesWith("after 3 records not written"), 1);
  recorder.reset();
  EXPECT_EQ(ShotNumbers(HourFile()), (std::vector<int>{0, 1, 5, 6}));
}
