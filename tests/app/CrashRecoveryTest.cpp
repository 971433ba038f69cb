// The program killed while it records, then started again in the same hour:
// the file it was writing is repaired, keeps every block it had, and the
// new run appends to it. Runs the real program on its built-in simulated
// instrument in a private working folder, settings file, home, lock folder
// and temporary folder.
#include <gtest/gtest.h>

#include <cmath>

#include "Common/DateTime.h"
#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/app/ProgramRuns.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct TBlock {
  int Channel = 0;
  double Time = 0;
  std::string Payload;
  bool operator==(const TBlock&) const = default;
};

class CrashRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(exe_)) << exe_ << " is not built";
    ASSERT_TRUE(fs::exists(info_)) << info_ << " is not built";
  }

  // skv2-info --check on one file: exit code and output.
  std::pair<int, std::string> Check(const fs::path& file) {
    const OrlaqLidar::Test::TRun run = runs_.Run(info_, {"--check", file.string()}, 15000, "check");
    return {run.ExitCode, run.Out + run.Err};
  }

  // The data blocks a reader finds, in file order.
  static std::vector<TBlock> Blocks(const fs::path& file, bool* endMark = nullptr) {
    TApplicationConfig settings;
    TLidFileAccess reader(file, settings);
    std::vector<TBlock> blocks;
    const int rc = reader.OpenForReading();
    EXPECT_EQ(rc, 0) << file << ": " << TLidFileAccess::ErrorText(rc);
    if (rc != 0) return blocks;
    reader.OnData = [&](int channel, const uint8_t* data, size_t size, TDateTime time) {
      blocks.push_back({channel, time, std::string(reinterpret_cast<const char*>(data), size)});
    };
    reader.OnEvent = [&](int channel, const std::string& code, const std::string& text, TDateTime time) {
      blocks.push_back({channel, time, code + text});
    };
    while (reader.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) > 0) {
    }
    if (endMark) *endMark = reader.EndMarkReached();
    return blocks;
  }

  OrlaqLidar::Test::TProgramRuns runs_;
  const fs::path exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
  const fs::path info_ = OrlaqLidar::Test::BinDir() / "skv2-info";
};

TEST_F(CrashRecoveryTest, AKilledRecordingIsRepairedAndContinuedByTheNextStartInTheSameHour) {
  // Both runs must record into the same hourly file.
  OrlaqLidar::Test::WaitForRoomInTheHour(60);

  // 1: record until the file has grown by a few shots, then kill.
  const fs::path model = runs_.QuickDefinition();
  const pid_t pid = runs_.Start(exe_, {"-SIMULATE", "-HEADLESS", "-MODEL", model.string()}, "first");
  ASSERT_GT(pid, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  fs::path file;
  uintmax_t firstSize = 0;
  Clock::time_point firstSeen;
  for (;;) {
    ASSERT_LT(Clock::now(), deadline) << "no growing recorded file" << runs_.Output("first");
    ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the program ended by itself" << runs_.Output("first");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto files = runs_.RecordedFiles();
    if (files.empty()) continue;
    ASSERT_EQ(files.size(), 1u);
    std::error_code ec;
    const uintmax_t size = fs::file_size(files.front(), ec);
    if (file.empty()) {
      file = files.front();
      firstSize = size;
      firstSeen = Clock::now();
      continue;
    }
    // Several shots of 8 KiB past the first sight, and a flush period.
    if (size > firstSize + 5 * 8225 && Clock::now() - firstSeen > std::chrono::milliseconds(1200)) break;
  }
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(runs_.Wait(pid, 5000), -1);  // killed

  // Killed without its end mark: the check calls it damaged, but reads it.
  const auto [damagedCode, damagedText] = Check(file);
  EXPECT_EQ(damagedCode, 1) << damagedText;
  EXPECT_NE(damagedText.find("end mark: missing"), std::string::npos) << damagedText;
  bool endMark = true;
  const std::vector<TBlock> before = Blocks(file, &endMark);
  ASSERT_FALSE(before.empty()) << "nothing readable was recorded before the kill";
  EXPECT_FALSE(endMark) << "a killed recording cannot have closed its file";

  // 2: the next start, same hour, same folder.
  const OrlaqLidar::Test::TRun run =
      runs_.Run(exe_, {"-SIMULATE", "-HEADLESS", "-DURATION=5", "-MODEL", model.string()}, 25000, "second");
  const std::string second = run.Out + run.Err;
  ASSERT_EQ(run.ExitCode, 0) << second;
  EXPECT_NE(second.find("acquisition mode"), std::string::npos) << "the killed copy's lock outlived it" << second;

  const auto files = runs_.RecordedFiles();
  ASSERT_EQ(files.size(), 1u) << "the second run did not continue the same file" << second;
  ASSERT_EQ(files.front(), file);

  // Repaired on reopening, as the log says.
  EXPECT_NE(second.find("File seems to be damaged, try to correct it..."), std::string::npos) << second;
  EXPECT_NE(second.find("Recovery: File got new end of file mark after " + std::to_string(before.size()) +
                        " data block"),
            std::string::npos)
      << "expected " << before.size() << " blocks kept" << second;

  // Whole now, with every earlier block unchanged and new ones behind them.
  const std::vector<TBlock> after = Blocks(file, &endMark);
  EXPECT_TRUE(endMark) << "the second run did not close the file";
  ASSERT_GT(after.size(), before.size()) << "nothing was appended";
  for (size_t i = 0; i < before.size(); ++i)
    ASSERT_TRUE(after[i] == before[i]) << "block " << i << " of the first run changed";
  EXPECT_GT(after[before.size()].Time, before.back().Time);

  const auto [wholeCode, wholeText] = Check(file);
  EXPECT_EQ(wholeCode, 0) << wholeText;
  EXPECT_NE(wholeText.find("state: whole"), std::string::npos) << wholeText;
  EXPECT_NE(wholeText.find("data blocks: " + std::to_string(after.size())), std::string::npos) << wholeText;
}

}  // namespace
