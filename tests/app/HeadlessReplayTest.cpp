#include "app/HeadlessReplay.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Config/ApplicationConfig.h"
#include "kernel/files/LidarReplay.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

class HeadlessReplayTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  HeadlessReplayTest() {
    Settings.DefinitionText = "[General]\nName=Orlaq Test\nCode=ORLAQT\n";
    Settings.LidarConfig.Code = "ORLAQT";
    Settings.ConfigFolder = (Dir / "config").string();
    Replay.Open();
  }

  // A sealed recording of one shot a second; returns where its blocks start.
  std::vector<uint64_t> Record(const std::string& name, int from, int to) {
    TLidFileAccess::TInstrumentInfo info;
    info.SerialNumber = "SN000042";
    info.LidarChannels = {{1, "LIDARFW 102"}};
    TLidFileAccess file(Dir / name, Settings);
    EXPECT_EQ(file.OpenForWriting(&info), 0);
    std::vector<uint64_t> starts;
    const std::string shot(100, 's');
    for (int s = from; s < to; ++s) {
      starts.push_back(file.EndOfData());
      file.WriteShoot(1, EncodeDateTime(2026, 6, 15, 12) + s / SecondsPerDay,
                      reinterpret_cast<const uint8_t*>(shot.data()), shot.size());
    }
    file.Close();
    return starts;
  }

  std::string Path(const std::string& name) const { return (Dir / name).string(); }

  OrlaqLidar::Test::TTempDir Dir;
  TApplicationConfig Settings;
  TLidarReplay Replay{&Settings};
  std::ostringstream Out, Err;
};

TEST_F(HeadlessReplayTest, CutAndDamagedRecordingsAreNamedAndTheRestIsReplayed) {
  Record("whole.skv2", 0, 10);
  Record("cut.skv2", 10, 20);
  fs::resize_file(Dir / "cut.skv2", fs::file_size(Dir / "cut.skv2") - 16 - 10);
  // Sealed, but the length of its sixth block is garbage.
  const auto starts = Record("damaged.skv2", 20, 30);
  {
    std::fstream f(Dir / "damaged.skv2", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(starts[5] + 4));
    f.write("\xff\xff\xff\x7f", 4);
  }

  THeadlessReplay runner(Replay, Out, Err, false);
  runner.SetOutput(false, true);
  EXPECT_EQ(runner.Load({Path("damaged.skv2"), Path("cut.skv2"), Path("whole.skv2")}), 0u);
  EXPECT_EQ(Err.str(), "skyvane: " + Path("cut.skv2") + ": truncated recording, replayed up to its last whole block\n");
  EXPECT_EQ(runner.Progress(), 0);
  Err.str("");

  EXPECT_TRUE(runner.Replay());
  EXPECT_EQ(Err.str(), "skyvane: " + Path("damaged.skv2") + ": damaged recording, replayed up to the damaged block\n");
  EXPECT_EQ(Replay.File(0).IndexCount(), 10u);
  EXPECT_EQ(Replay.File(1).IndexCount(), 9u);
  EXPECT_EQ(Replay.File(2).IndexCount(), 5u);
  EXPECT_NE(runner.StatusLine(0).find("files 3/3 | blocks 24 |"), std::string::npos) << runner.StatusLine(0);
}

}  // namespace
