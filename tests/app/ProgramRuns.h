#pragma once
// The program's executables run as separate processes, each run in a
// private working folder with its own settings file, home, lock folder and
// temporary folder, so that nothing of the user's is read or touched.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Common/DateTime.h"
#include "Common/FileUtils.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar::Test {

// The recorder starts a new file at every full UTC hour: a test whose runs
// must share one hourly file, started with less than `seconds` of the hour
// left, waits for the next hour instead of being left out.
inline void WaitForRoomInTheHour(double seconds) {
  const TDateTime now = SystemNowUTC();
  const double left = 3600.0 - std::fmod((now - std::floor(now)) * SecondsPerDay, 3600.0);
  if (left < seconds) std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long>(left * 1000) + 1500));
}

struct TRun {
  int ExitCode = -1;  // -1: killed or did not end in time
  std::string Out, Err;
};

class TProgramRuns {
 public:
  TProgramRuns() {
    for (const char* sub : {"work", "home", "tmp", "settings"}) std::filesystem::create_directories(Dir / sub);
  }
  ~TProgramRuns() {
    for (pid_t pid : running_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // Starts a program in the working folder, its output into <name>.out and .err.
  // env entries ("NAME=value") replace or add to the run's environment.
  pid_t Start(const std::filesystem::path& exe, const std::vector<std::string>& args, const std::string& name,
              const std::vector<std::string>& envOverrides = {}) {
    std::vector<std::string> env = {
        "SKYVANE_SETTINGS=" + Settings.string(), "HOME=" + Home.string(),
        "XDG_CONFIG_HOME=" + (Home / ".config").string(),
        // The single-instance lock: another copy on this machine must not
        // turn a run into a reader.
        "XDG_RUNTIME_DIR=" + Dir.Path().string(),
        // The simulated devices of a killed run are left behind: here.
        "TMPDIR=" + (Dir / "tmp").string(), "LC_ALL=de_DE.UTF-8", "PATH=/usr/bin:/bin"};
    for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
      if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    for (const std::string& e : envOverrides) {
      const std::string key = e.substr(0, e.find('=') + 1);
      std::erase_if(env, [&](const std::string& x) { return x.rfind(key, 0) == 0; });
      env.push_back(e);
    }
    std::vector<std::string> argv = {exe.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& e : env) cenv.push_back(e.data());
    cenv.push_back(nullptr);
    const std::string out = (Dir / (name + ".out")).string(), err = (Dir / (name + ".err")).string();

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int in = ::open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || ::chdir(Work.c_str()) != 0) ::_exit(126);
      ::dup2(in, 0);
      ::dup2(o, 1);
      ::dup2(e, 2);
      ::execve(cargv[0], cargv.data(), cenv.data());
      ::_exit(127);
    }
    if (pid > 0) running_.push_back(pid);
    return pid;
  }

  // Exit code of a started program, -1 when it ended otherwise or had to be
  // killed at the deadline.
  int Wait(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) break;
      if (r < 0) return -1;
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << pid << " did not end within " << timeoutMs << " ms";
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::erase(running_, pid);
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TRun Run(const std::filesystem::path& exe, const std::vector<std::string>& args, int timeoutMs,
           const std::string& name = "run", const std::vector<std::string>& envOverrides = {}) {
    TRun run;
    const pid_t pid = Start(exe, args, name, envOverrides);
    if (pid < 0) return run;
    run.ExitCode = Wait(pid, timeoutMs);
    run.Out = ReadTextFile(Dir / (name + ".out")).value_or("");
    run.Err = ReadTextFile(Dir / (name + ".err")).value_or("");
    return run;
  }

  std::string Output(const std::string& name) const {
    return "\n--- " + name + " stdout:\n" + ReadTextFile(Dir / (name + ".out")).value_or("") + "--- stderr:\n" +
           ReadTextFile(Dir / (name + ".err")).value_or("");
  }

  std::vector<std::filesystem::path> RecordedFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Work / "LidData", ec))
      if (e.is_regular_file() && e.path().extension() == ".skv2") files.push_back(e.path());
    return files;
  }

  // The shipped instrument with its lasers ready at once, so that shots (and
  // therefore recording, which starts with "Laser on") come within a short run.
  std::filesystem::path QuickDefinition() const {
    const std::string shipped =
        ReadTextFile(SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini").value_or("");
    EXPECT_NE(shipped.find("HeatingTime="), std::string::npos);
    const auto path = Dir / "Quick.ini";
    std::ofstream(path, std::ios::binary) << std::regex_replace(shipped, std::regex("HeatingTime=[0-9]+"),
                                                                "HeatingTime=0");
    return path;
  }

  TTempDir Dir;
  std::filesystem::path Work = Dir / "work", Home = Dir / "home", Settings = Dir / "settings" / "Skyvane.ini";

 private:
  std::vector<pid_t> running_;
};

}  // namespace OrlaqLidar::Test
