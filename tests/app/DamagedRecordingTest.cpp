// The program started over the file of the current hour as a field
// operator may find it: damaged in its header, or not openable at all.
// Nothing may be lost without a word: the damaged file is kept aside byte
// for byte, the records go to a new file, and while they cannot be
// written the status line carries a recording alarm. Runs the real program
// on its built-in simulated instrument in a private working folder.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "Common/DateTime.h"
#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/app/ProgramRuns.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string Bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Data blocks a reader finds, and whether it reached the end mark.
size_t Blocks(const fs::path& file, bool& endMark) {
  TApplicationConfig settings;
  TLidFileAccess reader(file, settings);
  EXPECT_EQ(reader.OpenForReading(), 0) << file;
  size_t blocks = 0;
  reader.OnData = [&](int, const uint8_t*, size_t, TDateTime) { ++blocks; };
  while (reader.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) > 0) {
  }
  endMark = reader.EndMarkReached();
  return blocks;
}

class DamagedRecordingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::exists(exe_)) << exe_ << " is not built"; }

  OrlaqLidar::Test::TProgramRuns runs_;
  const fs::path exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
};

TEST_F(DamagedRecordingTest, TheHoursFileDamagedOrInTheWayCostsNoRecordUnseen) {
  // Every run must record into the same hourly file.
  OrlaqLidar::Test::WaitForRoomInTheHour(90);
  const fs::path model = runs_.QuickDefinition();
  const std::vector<std::string> args = {"-SIMULATE", "-HEADLESS", "-MODEL", model.string()};
  auto withDuration = [&](const char* d) {
    std::vector<std::string> a = args;
    a.push_back(d);
    return a;
  };

  // 1: a run that leaves the hour's file.
  const OrlaqLidar::Test::TRun first = runs_.Run(exe_, withDuration("-DURATION=6"), 30000, "first");
  ASSERT_EQ(first.ExitCode, 0) << first.Out << first.Err;
  auto files = runs_.RecordedFiles();
  ASSERT_EQ(files.size(), 1u) << first.Out << first.Err;
  const fs::path file = files.front();

  // 2: its header damaged, the next run moves it aside and records anew.
  std::string damaged = Bytes(file);
  damaged.replace(4, 4, "HEX2");
  std::ofstream(file, std::ios::binary | std::ios::trunc) << damaged;
  const OrlaqLidar::Test::TRun second = runs_.Run(exe_, withDuration("-DURATION=6"), 30000, "second");
  const std::string secondText = second.Out + second.Err;
  ASSERT_EQ(second.ExitCode, 0) << secondText;
  const fs::path bad = file.string() + ".bad";
  EXPECT_EQ(Bytes(bad), damaged) << "the damaged file was not kept as it was";
  EXPECT_NE(secondText.find("Damaged skv2 file <" + file.string() + "> moved aside to <" + bad.string() + ">"),
            std::string::npos)
      << secondText;
  EXPECT_EQ(secondText.find("recording error"), std::string::npos) << "records were lost" << secondText;
  EXPECT_EQ(secondText.find("not written"), std::string::npos) << secondText;
  bool endMark = false;
  EXPECT_GT(Blocks(file, endMark), 0u);
  EXPECT_TRUE(endMark);

  // 3: a folder in the file's place: nothing can be written, and the
  // status line says so until, the folder gone, the next try records.
  const fs::path secondFile = file.string() + ".second";
  fs::rename(file, secondFile);
  fs::create_directories(file);
  const pid_t pid = runs_.Start(exe_, withDuration("-DURATION=14"), "third");
  ASSERT_GT(pid, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(12);
  for (;;) {
    ASSERT_LT(Clock::now(), deadline) << "no recording alarm" << runs_.Output("third");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (ReadTextFile(runs_.Dir / "third.out").value_or("").find("alarm: recording error: ") != std::string::npos)
      break;
  }
  fs::remove(file);
  EXPECT_EQ(runs_.Wait(pid, 30000), 0) << runs_.Output("third");
  const std::string third = runs_.Output("third");
  const size_t raised = third.find("alarm: recording error: ");
  ASSERT_NE(raised, std::string::npos) << third;
  std::smatch resumed;
  ASSERT_TRUE(std::regex_search(third, resumed,
                                std::regex("Recording goes on in skv2 file <" + file.string() +
                                           "> after ([0-9]+) records not written")))
      << third;
  EXPECT_GT(std::stoi(resumed[1]), 0);
  // The last status line is clear again.
  const size_t lastLine = third.rfind(" rec/s | alarm: ");
  ASSERT_NE(lastLine, std::string::npos);
  EXPECT_EQ(third.find("recording error", lastLine), std::string::npos) << third;
  EXPECT_GT(Blocks(file, endMark), 0u);
  EXPECT_TRUE(endMark);
}

}  // namespace
