// The program itself, run as a separate process: a headless acquisition on
// the built-in simulated instrument, the usage text and a wrong switch. Each
// run gets a private working folder, settings file, home and lock folder,
// so that nothing of the user's is read or touched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/LidFileAccess.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;

namespace {

struct TRun {
  int ExitCode = -1;  // -1: killed or did not end in time
  std::string Out, Err;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class SkyvaneProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
    ASSERT_TRUE(fs::exists(exe_)) << exe_ << " is not built";
    work_ = dir_ / "work";
    home_ = dir_ / "home";
    fs::create_directories(work_);
    fs::create_directories(home_);
    settings_ = dir_ / "settings" / "Skyvane.ini";
  }

  // Runs the program in the working folder with the given arguments; a run
  // that outlives timeoutMs is killed.
  TRun Run(const std::vector<std::string>& args, int timeoutMs) {
    const fs::path out = dir_ / "stdout.txt", err = dir_ / "stderr.txt";
    std::vector<std::string> env = {
        "SKYVANE_SETTINGS=" + settings_.string(),
        "HOME=" + home_.string(),
        "XDG_CONFIG_HOME=" + (home_ / ".config").string(),
        // The single-instance lock lives here: another copy running on this
        // machine must not turn the run into a reader.
        "XDG_RUNTIME_DIR=" + dir_.Path().string(),
        "LC_ALL=de_DE.UTF-8",
        "PATH=/usr/bin:/bin",
    };
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TMPDIR"})
      if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    std::vector<std::string> argv = {exe_.string()};
    argv.insert(argv.end(), args.begin(), args.end());

    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || chdir(work_.c_str()) != 0) _exit(126);
      dup2(in, 0);
      dup2(o, 1);
      dup2(e, 2);
      execve(cargv[0], cargv.data(), cenv.data());
      _exit(127);
    }
    TRun run;
    if (pid < 0) return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (r < 0 || std::chrono::steady_clock::now() >= deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "skyvane did not end within " << timeoutMs << " ms";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.Out = ReadAll(out);
    run.Err = ReadAll(err);
    return run;
  }

  std::vector<fs::path> RecordedFiles() const {
    std::vector<fs::path> files;
    const fs::path data = work_ / "LidData";
    std::error_code ec;
    if (!fs::is_directory(data, ec)) return files;
    for (const auto& e : fs::recursive_directory_iterator(data, ec))
      if (e.is_regular_file() && e.path().extension() == ".skv2") files.push_back(e.path());
    return files;
  }

  // The shipped instrument with its lasers ready at once, so that shots
  // (and therefore recording, which starts with "Laser on") come within a
  // short run.
  fs::path WriteQuickDefinition() const {
    const std::string shipped =
        ReadAll(OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini");
    EXPECT_NE(shipped.find("HeatingTime="), std::string::npos);
    const fs::path p = dir_ / "Quick.ini";
    std::ofstream(p, std::ios::binary) << std::regex_replace(shipped, std::regex("HeatingTime=[0-9]+"), "HeatingTime=0");
    return p;
  }

  TTempDir dir_;
  fs::path exe_, work_, home_, settings_;
};

// Groups of the last line of the output that matches re; empty when none does.
std::vector<std::string> LastMatch(const std::string& out, const std::regex& re) {
  std::vector<std::string> groups;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, re)) continue;
    groups.assign(m.begin(), m.end());
  }
  return groups;
}

// "<date> <time> | <connection> | <power> | shots 1:<n> 2:<n> ... | <r> rec/s | alarm: <text>"
const std::regex StatusLine(
    R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \| (Connected|Connecting|Disconnected) \| ([A-Za-z ]+) \| shots ((?:\d+:\d+ ?)+) \| (\d+\.\d) rec/s \| alarm: (.*)$)");

std::map<int, int> ShotCounts(const std::string& text) {
  std::map<int, int> counts;
  static const std::regex pair(R"((\d+):(\d+))");
  for (std::sregex_iterator it(text.begin(), text.end(), pair), end; it != end; ++it)
    counts[std::stoi((*it)[1])] = std::stoi((*it)[2]);
  return counts;
}

TEST_F(SkyvaneProgramTest, HeadlessSimulatedRunRecordsAFileAndEndsCleanly) {
  const fs::path model = WriteQuickDefinition();
  const TRun run = Run({"-SIMULATE", "-HEADLESS", "-DURATION=6", "-MODEL", model.string()}, 30000);
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;

  // Acquisition mode on the private settings file and the definition asked for.
  EXPECT_NE(run.Out.find("Skyvane: acquisition mode, settings " + settings_.string() + ", instrument \"Orlaq Demo "
                         "532/1064\" (3 lidar, 1 monitoring channels) from " + model.string()),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("Stopping: laser off, then disconnect"), std::string::npos) << run.Out;
  // The final status line: still connected, shots on every lidar channel.
  const std::vector<std::string> status = LastMatch(run.Out, StatusLine);
  ASSERT_FALSE(status.empty()) << run.Out;
  EXPECT_EQ(status[1], "Connected");
  const std::map<int, int> shots = ShotCounts(status[3]);
  EXPECT_EQ(shots.size(), 3u) << status[3];
  for (int id : {1, 2, 3}) EXPECT_GT(shots.count(id) ? shots.at(id) : 0, 0) << "channel " << id << ": " << status[3];
  // The simulated housekeeping values drift across their warning limits now
  // and then, so the alarm field is only checked for presence.
  EXPECT_FALSE(status[5].empty());
  // Seconds with a decimal point whatever the locale.
  std::smatch stopped;
  ASSERT_TRUE(std::regex_search(run.Out, stopped, std::regex(R"(Stopped after (\d+)\.(\d) s, (\d+) records received)")))
      << run.Out;
  EXPECT_GE(std::stoi(stopped[1]), 6);
  EXPECT_LT(std::stoi(stopped[1]), 20);
  EXPECT_GT(std::stoi(stopped[3]), 0);

  // One recorded file under LidData/DIR_<serial>/<yyyymm>/, whole and readable.
  const auto files = RecordedFiles();
  ASSERT_EQ(files.size(), 1u) << run.Out << run.Err;
  const fs::path& file = files.front();
  EXPECT_TRUE(std::regex_match(file.parent_path().filename().string(), std::regex(R"(\d{6})"))) << file;
  EXPECT_EQ(file.parent_path().parent_path().filename().string().rfind("DIR_", 0), 0u) << file;
  EXPECT_EQ(file.parent_path().parent_path().parent_path(), work_ / "LidData") << file;

  TApplicationConfig settings;
  TIniFile definition(model.string());
  ASSERT_TRUE(settings.LidarConfig.Load(definition));
  TLidFileAccess reader(file, settings);
  ASSERT_EQ(reader.OpenForReading(), 0) << file;
  std::map<int, int> blocks;
  std::map<int, std::vector<size_t>> sizes;
  reader.OnData = [&](int channel, const uint8_t*, size_t size, TDateTime) {
    ++blocks[channel];
    sizes[channel].push_back(size);
  };
  while (reader.ReadBlocks(1000) > 0) {
  }
  EXPECT_TRUE(reader.EndMarkReached()) << "the file was not closed";
  for (int id : {1, 2, 3}) {
    EXPECT_GT(blocks[id], 0) << "no shots of channel " << id;
    for (size_t s : sizes[id]) EXPECT_EQ(s, 2048u * 4 + 16) << "channel " << id;
  }
  // Nothing of the user's was read or written.
  EXPECT_FALSE(fs::exists(home_ / ".config")) << "the user's settings folder was touched";
}

TEST_F(SkyvaneProgramTest, HeadlessRunOfTheShippedInstrumentConnectsAndEndsCleanly) {
  // No definition configured: the run takes the one shipped with the program.
  const TRun run = Run({"-SIMULATE", "-HEADLESS", "-DURATION=6"}, 30000);
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("OrlaqDemo2W.ini"), std::string::npos) << run.Out;
  const std::vector<std::string> status = LastMatch(run.Out, StatusLine);
  ASSERT_FALSE(status.empty()) << run.Out;
  EXPECT_EQ(status[1], "Connected") << run.Out;
  EXPECT_NE(run.Out.find("records received"), std::string::npos) << run.Out;
  EXPECT_FALSE(fs::exists(home_ / ".config"));
}

TEST_F(SkyvaneProgramTest, HelpPrintsTheUsageAndExits) {
  for (const char* sw : {"-HELP", "--help", "-h"}) {
    const TRun run = Run({sw}, 15000);
    EXPECT_EQ(run.ExitCode, 0) << sw << "\n" << run.Err;
    EXPECT_EQ(run.Out.rfind("usage: skyvane", 0), 0u) << sw << ": " << run.Out;
    for (const char* item : {"-MODEL", "-SIMULATE", "-HEADLESS", "-DURATION=", "-HELP"})
      EXPECT_NE(run.Out.find(item), std::string::npos) << sw << " lacks " << item;
  }
  EXPECT_TRUE(RecordedFiles().empty());
}

TEST_F(SkyvaneProgramTest, UnknownSwitchIsReportedOnStandardError) {
  // A file named on the command line makes this a reader that ends at once.
  const fs::path file = dir_ / "some.skv2";
  std::ofstream(file) << "x";
  const TRun run = Run({"-NOSUCHSWITCH", file.string()}, 15000);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Err.find("unknown switch -NOSUCHSWITCH"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("usage: skyvane"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Out.find("NOSUCHSWITCH"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("reader mode"), std::string::npos) << run.Out;
}

}  // namespace
