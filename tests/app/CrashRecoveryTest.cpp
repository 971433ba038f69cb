// The program killed while it records, then started again in the same hour:
// the file it was writing is repaired, keeps every block it had, and the
// new run appends to it. Runs the real program on its built-in simulated
// instrument in a private working folder, settings file, home, lock folder
// and temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ApplicationConfig.h"
#include "kernel/LidFileAccess.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TBlock {
  int Channel = 0;
  double Time = 0;
  std::string Payload;
  bool operator==(const TBlock&) const = default;
};

class CrashRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
    info_ = OrlaqLidar::Test::BinDir() / "skv2-info";
    ASSERT_TRUE(fs::exists(exe_)) << exe_ << " is not built";
    ASSERT_TRUE(fs::exists(info_)) << info_ << " is not built";
    work_ = dir_ / "work";
    for (const char* sub : {"work", "home", "tmp", "settings"}) fs::create_directories(dir_ / sub);
    // The shipped instrument with its lasers ready at once: recording
    // starts with "Laser on".
    const std::string shipped = ReadAll(OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini");
    ASSERT_NE(shipped.find("HeatingTime="), std::string::npos);
    model_ = dir_ / "Quick.ini";
    std::ofstream(model_, std::ios::binary) << std::regex_replace(shipped, std::regex("HeatingTime=[0-9]+"),
                                                                  "HeatingTime=0");
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Starts a program in the working folder, its output into files.
  pid_t Start(const fs::path& exe, const std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> env = {
        "SKYVANE_SETTINGS=" + (dir_ / "settings" / "Skyvane.ini").string(),
        "HOME=" + (dir_ / "home").string(),
        "XDG_CONFIG_HOME=" + (dir_ / "home" / ".config").string(),
        // The single-instance lock: another copy on this machine must not
        // turn a run into a reader.
        "XDG_RUNTIME_DIR=" + dir_.Path().string(),
        // The simulated devices of a killed run are left behind: here.
        "TMPDIR=" + (dir_ / "tmp").string(),
        "LC_ALL=de_DE.UTF-8",
        "PATH=/usr/bin:/bin",
    };
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    std::vector<std::string> argv = {exe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const std::string out = (dir_ / (name + ".out")).string(), err = (dir_ / (name + ".err")).string();

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || ::chdir(work_.c_str()) != 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::execve(cargv[0], cargv.data(), cenv.data());
      ::_exit(127);
    }
    return pid;
  }

  // Exit code of a started program, -1 when it ended otherwise or had to be
  // killed at the deadline.
  int Wait(pid_t pid, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (r < 0) return -1;
      if (Clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << pid << " did not end within " << timeoutMs << " ms";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid == pid_) pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Output(const std::string& name) const {
    return "\n--- " + name + " stdout:\n" + ReadAll(dir_ / (name + ".out")) + "--- stderr:\n" +
           ReadAll(dir_ / (name + ".err"));
  }

  std::vector<fs::path> RecordedFiles() const {
    std::vector<fs::path> files;
    std::error_code ec;
    const fs::path data = work_ / "LidData";
    if (!fs::is_directory(data, ec)) return files;
    for (const auto& e : fs::recursive_directory_iterator(data, ec))
      if (e.is_regular_file() && e.path().extension() == ".skv2") files.push_back(e.path());
    return files;
  }

  // skv2-info --check on one file: exit code and output.
  std::pair<int, std::string> Check(const fs::path& file) {
    const pid_t pid = Start(info_, {"--check", file.string()}, "check");
    const int code = Wait(pid, 15000);
    return {code, ReadAll(dir_ / "check.out") + ReadAll(dir_ / "check.err")};
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

  TTempDir dir_;
  fs::path exe_, info_, work_, model_;
  pid_t pid_ = -1;
};

// Seconds left in the current UTC hour.
double SecondsToFullHour() {
  const TDateTime now = SystemNowUTC();
  const double secondsOfDay = (now - std::floor(now)) * SecondsPerDay;
  return 3600.0 - std::fmod(secondsOfDay, 3600.0);
}

TEST_F(CrashRecoveryTest, AKilledRecordingIsRepairedAndContinuedByTheNextStartInTheSameHour) {
  // Both runs must record into the same hourly file.
  if (SecondsToFullHour() < 60) GTEST_SKIP() << "less than a minute to the next full hour";
  const double startHour = std::floor(SystemNowUTC() * 24);

  // 1: record until the file has grown by a few shots, then kill.
  pid_ = Start(exe_, {"-SIMULATE", "-HEADLESS", "-MODEL", model_.string()}, "first");
  ASSERT_GT(pid_, 0);
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  fs::path file;
  uintmax_t firstSize = 0;
  Clock::time_point firstSeen;
  for (;;) {
    ASSERT_LT(Clock::now(), deadline) << "no growing recorded file" << Output("first");
    int status;
    ASSERT_EQ(::waitpid(pid_, &status, WNOHANG), 0) << "the program ended by itself" << Output("first");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto files = RecordedFiles();
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
  ASSERT_EQ(::kill(pid_, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid_, &status, 0), pid_);
  pid_ = -1;
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  // Killed without its end mark: the check calls it damaged, but reads it.
  const auto [damagedCode, damagedText] = Check(file);
  EXPECT_EQ(damagedCode, 1) << damagedText;
  EXPECT_NE(damagedText.find("end mark: missing"), std::string::npos) << damagedText;
  bool endMark = true;
  const std::vector<TBlock> before = Blocks(file, &endMark);
  ASSERT_FALSE(before.empty()) << "nothing readable was recorded before the kill";
  EXPECT_FALSE(endMark) << "a killed recording cannot have closed its file";

  // 2: the next start, same hour, same folder.
  pid_ = Start(exe_, {"-SIMULATE", "-HEADLESS", "-DURATION=5", "-MODEL", model_.string()}, "second");
  ASSERT_GT(pid_, 0);
  const int exitCode = Wait(pid_, 25000);
  const std::string second = Output("second");
  ASSERT_EQ(exitCode, 0) << second;
  EXPECT_NE(second.find("acquisition mode"), std::string::npos) << "the killed copy's lock outlived it" << second;

  const auto files = RecordedFiles();
  if (files.size() == 2 && std::floor(SystemNowUTC() * 24) != startHour)
    GTEST_SKIP() << "the runs straddled a full hour";
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
