#include "kernel/files/LidarReplay.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Config/ApplicationConfig.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;

namespace {

// One delivered (or written) block: channel, payload or "EVENT:code|text", time.
struct TSeen {
  int Channel;
  std::string What;
  TDateTime Time;
  bool operator==(const TSeen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TSeen& s) {
  return os << s.Channel << ":" << s.What << "@" << FormatDateTime(s.Time);
}

const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

class LidarReplayTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidarReplayTest() {
    Settings.DefinitionText = "[General]\nName=Orlaq Test\nCode=ORLAQT\n";
    Settings.LidarConfig.Code = "ORLAQT";
    Settings.ConfigFolder = (Dir / "config").string();
    Replay.Open();
    Replay.AddDataConsumer(this, [this](int id, const uint8_t* data, int length, TDateTime time) {
      Seen.push_back({id, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)), time});
      int open = 0;
      for (size_t i = 0; i < Replay.FileCount(); ++i) open += Replay.File(i).IsOpen() ? 1 : 0;
      MaxOpenFiles = std::max(MaxOpenFiles, open);
    });
    Replay.AddEventConsumer(this, [this](int id, const std::string& code, TDateTime time, const std::string& text) {
      Seen.push_back({id, "EVENT:" + code + "|" + text, time});
    });
    Replay.AddStatusConsumer(
        this, [this](TStatus* s, TState::ChangeRaison) { States.push_back(s->Text); }, 100);
  }
  ~LidarReplayTest() override {
    Replay.RemoveDataConsumer(this);
    Replay.RemoveEventConsumer(this);
    Replay.RemoveStatusConsumer(this);
  }

  static TDateTime T(int second) { return EncodeDateTime(2026, 6, 15, 12) + second / SecondsPerDay; }

  // A recorded file with, at each of the seconds, a shot on channel 1, a
  // monitoring record on channel 10 and, every tenth second, a note. Returns
  // what a replay must deliver, in order.
  std::vector<TSeen> Record(const std::string& name, int from, int to, const std::string& serial = "SN000042") {
    TLidFileAccess::TInstrumentInfo info;
    info.SerialNumber = serial;
    info.LidarChannels = {{1, "LIDARFW 102"}};
    info.MonitorChannels = {{10, "MonitorLid001000001"}};
    TLidFileAccess file(Dir / name, Settings);
    EXPECT_EQ(file.OpenForWriting(&info), 0);
    std::vector<TSeen> written;
    for (int s = from; s < to; ++s) {
      const std::string shot = name + "/shot" + std::to_string(s);
      const std::string mon = name + "/mon" + std::to_string(s);
      file.WriteShoot(1, T(s), U8(shot), shot.size());
      file.WriteMonitor(10, T(s), U8(mon), mon.size());
      written.push_back({1, shot, T(s)});
      written.push_back({10, mon, T(s)});
      if (s % 10 == 0) {
        file.WriteEvent(7, T(s), "NOT", "note " + std::to_string(s));
        written.push_back({7, "EVENT:NOT|note " + std::to_string(s), T(s)});
      }
    }
    file.Close();
    return written;
  }

  bool Add(const std::string& name) { return Replay.AddFile((Dir / name).string()); }

  void RunToEnd() {
    ASSERT_TRUE(Replay.Start());
    Loop.RunIdle();
    EXPECT_EQ(Replay.Status.ReplayState(), TLidarReplay::ReplayDone);
    EXPECT_EQ(Replay.Status.Text, "Done");
  }

  static std::vector<TSeen> Join(std::initializer_list<std::vector<TSeen>> parts) {
    std::vector<TSeen> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }

  TTempDir Dir;
  TApplicationConfig Settings;
  TLidarReplay Replay{&Settings};
  std::vector<TSeen> Seen;
  std::vector<std::string> States;
  int MaxOpenFiles = 0;
};

TEST_F(LidarReplayTest, FilesInAnyOrderAreReplayedByFirstRecordTimeEveryBlockOnceOneFileOpen) {
  const auto a = Record("a.skv2", 0, 100);
  const auto b = Record("b.skv2", 100, 230);
  const auto c = Record("c.skv2", 300, 350);
  Replay.ClearFiles();
  Replay.Rewind();
  for (const char* name : {"c.skv2", "a.skv2", "b.skv2"}) ASSERT_TRUE(Add(name)) << name;
  EXPECT_EQ(Replay.GetSerialNumber(), "SN000042");
  EXPECT_EQ(Settings.Setup.SerialNumber, "SN000042");
  EXPECT_EQ(Replay.File(0).FileName(), Dir / "a.skv2");

  RunToEnd();
  EXPECT_EQ(Seen, Join({a, b, c}));
  EXPECT_EQ(MaxOpenFiles, 1);
  for (size_t i = 0; i < Replay.FileCount(); ++i) EXPECT_FALSE(Replay.File(i).IsOpen());
  EXPECT_EQ(States, (std::vector<std::string>{"Loading...", "Loading Files...", "Done"}));
  EXPECT_TRUE(LogLines.empty()) << LogLines.front();

  // Nothing left to read until rewound; then the same again.
  EXPECT_FALSE(Replay.Start());
  Seen.clear();
  Replay.Rewind();
  RunToEnd();
  EXPECT_EQ(Seen, Join({a, b, c}));
}

TEST_F(LidarReplayTest, FilesIndexedWhileReadingAreSortedReadOnceAndEndWithTheWholeIndex) {
  const auto a = Record("a.skv2", 0, 100);
  const auto b = Record("b.skv2", 100, 230);
  Record("empty.skv2", 0, 0);
  const auto cut = Record("cut.skv2", 300, 310);
  fs::resize_file(Dir / "cut.skv2", fs::file_size(Dir / "cut.skv2") - 16 - 10);
  Replay.ClearFiles();
  Replay.Rewind();
  Replay.SetIndexWhileReading(true);
  EXPECT_FALSE(Add("empty.skv2"));
  for (const char* name : {"cut.skv2", "b.skv2", "a.skv2"}) ASSERT_TRUE(Add(name)) << name;
  EXPECT_EQ(Replay.File(0).FileName(), Dir / "a.skv2");
  EXPECT_EQ(Replay.File(0).IndexCount(), 1u);
  EXPECT_TRUE(Replay.File(1).EndMarkAtEnd());
  EXPECT_FALSE(Replay.File(2).EndMarkAtEnd());

  RunToEnd();
  EXPECT_EQ(Seen, Join({a, b, std::vector<TSeen>(cut.begin(), cut.end() - 1)}));
  // Each block indexed once, as a pass of its own would have.
  for (size_t i = 0; i < Replay.FileCount(); ++i) {
    TLidFileAccess whole(Replay.File(i).FileName(), Settings);
    ASSERT_EQ(whole.MakeIndex(), 0);
    const auto& index = Replay.File(i).Index();
    ASSERT_EQ(index.size(), whole.IndexCount()) << i;
    for (size_t k = 0; k < index.size(); ++k) {
      EXPECT_EQ(index[k].Position, whole.Index()[k].Position);
      EXPECT_EQ(index[k].Time, whole.Index()[k].Time);
    }
  }
  EXPECT_TRUE(Replay.File(1).EndMarkReached());
}

TEST_F(LidarReplayTest, AddedFilesFollowTheLoadedOnesInTheOrderGiven) {
  const auto a = Record("a.skv2", 0, 20);
  const auto b = Record("b.skv2", 100, 120);
  const auto c = Record("c.skv2", 200, 220);
  Replay.Rewind();
  ASSERT_TRUE(Add("b.skv2"));
  RunToEnd();
  EXPECT_EQ(Seen, b);

  Seen.clear();
  Replay.ToEnd();
  ASSERT_TRUE(Add("c.skv2"));
  ASSERT_TRUE(Add("a.skv2"));
  RunToEnd();
  EXPECT_EQ(Seen, Join({c, a}));
  // Once done, the list is in time order again for the next full replay.
  EXPECT_EQ(Replay.File(0).FileName(), Dir / "a.skv2");
}

TEST_F(LidarReplayTest, TheSameFileTwiceIsReadOnceAndAFileGoneIsSkipped) {
  const auto a = Record("a.skv2", 0, 30);
  const auto b = Record("b.skv2", 30, 60);
  const auto c = Record("c.skv2", 60, 90);
  Replay.Rewind();
  ASSERT_TRUE(Add("a.skv2"));
  ASSERT_TRUE(Add("a.skv2"));
  ASSERT_TRUE(Replay.AddFile((Dir / "." / "a.skv2").string()));
  ASSERT_TRUE(Add("b.skv2"));
  ASSERT_TRUE(Add("c.skv2"));
  EXPECT_EQ(Replay.FileCount(), 3u);
  fs::remove(Dir / "b.skv2");
  RunToEnd();
  EXPECT_EQ(Seen, Join({a, c}));
}

TEST_F(LidarReplayTest, AFileOfAnotherInstrumentIsRefusedWithItsStatus) {
  const auto a = Record("a.skv2", 0, 10, "SN000042");
  Record("x.skv2", 10, 20, "SN000099");
  Replay.Rewind();
  ASSERT_TRUE(Add("a.skv2"));
  EXPECT_FALSE(Add("x.skv2"));
  EXPECT_EQ(Replay.FileCount(), 1u);
  EXPECT_EQ(Replay.Status.Error(), 0x80000011u);
  EXPECT_EQ(Replay.Status.Text, "Some files don't come from the same instrument");
  EXPECT_EQ(States.back(), "Some files don't come from the same instrument");
  EXPECT_NE(Replay.RefusalReason().find("SN000099"), std::string::npos) << Replay.RefusalReason();
  EXPECT_EQ(Settings.Setup.SerialNumber, "SN000042");
  RunToEnd();
  EXPECT_EQ(Seen, a);
}

TEST_F(LidarReplayTest, GotoWithAStopTimeReplaysTheWindowAcrossFilesThenDone) {
  const auto a = Record("a.skv2", 0, 100);
  const auto b = Record("b.skv2", 100, 200);
  const auto c = Record("c.skv2", 300, 400);
  Replay.Rewind();
  for (const char* name : {"a.skv2", "b.skv2", "c.skv2"}) ASSERT_TRUE(Add(name));
  EXPECT_FALSE(Replay.Goto(T(250), T(260), 5));

  ASSERT_TRUE(Replay.Goto(T(50), T(150), 0));
  EXPECT_EQ(Replay.CurrentFileName(), (Dir / "a.skv2").string());
  RunToEnd();
  std::vector<TSeen> window;
  for (const auto& s : Join({a, b, c}))
    if (s.Time >= T(50) && s.Time <= T(150)) window.push_back(s);
  EXPECT_EQ(Seen, window);
  EXPECT_EQ(MaxOpenFiles, 1);
}

TEST_F(LidarReplayTest, EmptyOrForeignFilesAreRefusedAndATruncatedOneIsReadToItsLastWholeBlock) {
  Record("empty.skv2", 0, 0);
  TTempDir other;
  other.WriteFile("notes.skv2", "not a recording\n");
  const auto cut = Record("cut.skv2", 0, 10);
  // A power cut: the end mark and half of the last block are gone.
  fs::resize_file(Dir / "cut.skv2", fs::file_size(Dir / "cut.skv2") - 16 - 10);

  Replay.Rewind();
  EXPECT_FALSE(Add("empty.skv2"));
  EXPECT_NE(Replay.RefusalReason().find("empty"), std::string::npos) << Replay.RefusalReason();
  EXPECT_FALSE(Replay.AddFile((other / "notes.skv2").string()));
  EXPECT_NE(Replay.RefusalReason().find("not a readable recorded data file"), std::string::npos);
  EXPECT_EQ(Replay.FileCount(), 0u);
  EXPECT_FALSE(Replay.Start());

  ASSERT_TRUE(Add("cut.skv2"));
  EXPECT_FALSE(Replay.File(0).EndMarkReached());
  RunToEnd();
  // The last second's monitoring block was cut: everything before it comes.
  EXPECT_EQ(Seen, std::vector<TSeen>(cut.begin(), cut.end() - 1));
}

}  // namespace
