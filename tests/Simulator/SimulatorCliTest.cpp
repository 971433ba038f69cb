// The skyvane-sim executable: it announces its devices file, serves the
// devices, and cleans up after SIGTERM. Skipped when the executable has not
// been built next to the tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "tests/Simulator/RawClient.h"
#include "tests/Simulator/SimTestDefinition.h"
#include "tests/TestSupport.h"

extern char** environ;

namespace OrlaqLidar::Test {
namespace {

using namespace std::chrono_literals;

class TSimProcess {
 public:
  explicit TSimProcess(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~TSimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // First line of standard output, waiting at most timeoutMs.
  std::string ReadLine(int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.empty() || line.back() != '\n') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char c;
      if (read(out_, &c, 1) != 1) break;
      line += c;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }

  // Exit code after a signal, or -1 when the process does not end in time.
  int Stop(int signal, int timeoutMs) {
    kill(pid_, signal);
    return Wait(timeoutMs);
  }
  int Wait(int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

class SimulatorCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Built into the same folder as the test executables.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const auto& folder : {BinDir(), self}) {
      Exe = (folder / "skyvane-sim").string();
      if (std::filesystem::exists(Exe)) break;
    }
    if (!std::filesystem::exists(Exe)) GTEST_SKIP() << Exe << " not built";
    Dir.WriteFile("instrument.ini", SimTestDefinitionText());
  }
  std::string Exe;
  TTempDir Dir;
};

TEST_F(SimulatorCliTest, ServesTheDevicesAndCleansUpOnTerminate) {
  TSimProcess sim({Exe, (Dir / "instrument.ini").string(), "--rate-limit", "off", "--seed", "4"});
  ASSERT_TRUE(sim.Started());
  const std::filesystem::path devices = sim.ReadLine(10000);
  ASSERT_FALSE(devices.empty());
  ASSERT_TRUE(std::filesystem::exists(devices));
  const std::filesystem::path folder = devices.parent_path();

  TIniFile ini(devices.string());
  EXPECT_EQ(ini.ReadString("Device3", "Description", ""), "SIM MONITOR");
  TRawClient lidar(ini.ReadString("Device0", "Socket", ""));
  ASSERT_TRUE(lidar.Ask("C"));
  const TRawAnswer version = lidar.Read(false, 5000);
  ASSERT_TRUE(version.Complete);
  EXPECT_TRUE(version.ChecksumOk);
  EXPECT_EQ(version.Payload.substr(0, 8), "LS261001");

  EXPECT_EQ(sim.Stop(SIGTERM, 10000), 0);
  EXPECT_TRUE(lidar.WaitClosed(1000));
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(SimulatorCliTest, WritesTheDevicesFileWhereAskedAndRemovesItAtExit) {
  const std::filesystem::path devices = Dir / "virtual-devices.ini";
  TSimProcess sim({Exe, (Dir / "instrument.ini").string(), "--devices", devices.string()});
  ASSERT_TRUE(sim.Started());
  EXPECT_EQ(std::filesystem::path(sim.ReadLine(10000)), devices);
  EXPECT_TRUE(std::filesystem::exists(devices));
  EXPECT_EQ(sim.Stop(SIGINT, 10000), 0);
  EXPECT_FALSE(std::filesystem::exists(devices));
}

TEST_F(SimulatorCliTest, RefusesBadArguments) {
  TSimProcess unknown({Exe, (Dir / "instrument.ini").string(), "--bogus"});
  EXPECT_EQ(unknown.Wait(10000), 2);
  TSimProcess missing({Exe, (Dir / "nothing.ini").string()});
  EXPECT_EQ(missing.Wait(10000), 1);
  TSimProcess badNumber({Exe, (Dir / "instrument.ini").string(), "--lat", "north"});
  EXPECT_EQ(badNumber.Wait(10000), 2);
}

}  // namespace
}  // namespace OrlaqLidar::Test
