// The skyvane-sim executable: it announces its devices file, serves the
// devices, and cleans up after SIGTERM. Skipped when the executable has not
// been built next to the tests.
#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "tests/Simulator/RawClient.h"
#include "tests/Simulator/SimTestDefinition.h"
#include "tests/app/ProgramRuns.h"

namespace OrlaqLidar::Test {
namespace {

class SimulatorCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Built into the same folder as the test executables.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (const auto& folder : {BinDir(), self}) {
      Exe = folder / "skyvane-sim";
      if (std::filesystem::exists(Exe)) break;
    }
    ASSERT_TRUE(std::filesystem::exists(Exe)) << Exe << " not built";
    Runs.Dir.WriteFile("instrument.ini", SimTestDefinitionText());
  }

  // The first line a started simulator prints: where its devices file is.
  std::filesystem::path FirstLine(const std::string& name) {
    for (int i = 0; i < 500; ++i) {
      const std::string out = ReadTextFile(Runs.Dir / (name + ".out")).value_or("");
      if (const size_t end = out.find('\n'); end != std::string::npos) return out.substr(0, end);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return {};
  }
  int Stop(pid_t pid, int signal) {
    ::kill(pid, signal);
    return Runs.Wait(pid, 10000);
  }

  std::filesystem::path Exe;
  TProgramRuns Runs;
  const std::string Instrument = (Runs.Dir / "instrument.ini").string();
};

TEST_F(SimulatorCliTest, ServesTheDevicesAndCleansUpOnTerminate) {
  const pid_t sim = Runs.Start(Exe, {Instrument, "--rate-limit", "off", "--seed", "4"}, "sim");
  ASSERT_GT(sim, 0);
  const std::filesystem::path devices = FirstLine("sim");
  ASSERT_FALSE(devices.empty()) << Runs.Output("sim");
  ASSERT_TRUE(std::filesystem::exists(devices));

  TIniFile ini(devices.string());
  EXPECT_EQ(ini.ReadString("Device3", "Description", ""), "SIM MONITOR");
  TRawClient lidar(ini.ReadString("Device0", "Socket", ""));
  ASSERT_TRUE(lidar.Ask("C"));
  const TRawAnswer version = lidar.Read(false, 5000);
  ASSERT_TRUE(version.Complete);
  EXPECT_TRUE(version.ChecksumOk);
  EXPECT_EQ(version.Payload.substr(0, 8), "LS261001");

  EXPECT_EQ(Stop(sim, SIGTERM), 0);
  EXPECT_TRUE(lidar.WaitClosed(1000));
  EXPECT_FALSE(std::filesystem::exists(devices.parent_path()));
}

TEST_F(SimulatorCliTest, WritesTheDevicesFileWhereAskedAndRemovesItAtExit) {
  const std::filesystem::path devices = Runs.Dir / "virtual-devices.ini";
  const pid_t sim = Runs.Start(Exe, {Instrument, "--devices", devices.string()}, "sim");
  ASSERT_GT(sim, 0);
  EXPECT_EQ(FirstLine("sim"), devices);
  EXPECT_TRUE(std::filesystem::exists(devices));
  EXPECT_EQ(Stop(sim, SIGINT), 0);
  EXPECT_FALSE(std::filesystem::exists(devices));
}

TEST_F(SimulatorCliTest, RefusesBadArguments) {
  EXPECT_EQ(Runs.Run(Exe, {Instrument, "--bogus"}, 10000).ExitCode, 2);
  EXPECT_EQ(Runs.Run(Exe, {(Runs.Dir / "nothing.ini").string()}, 10000).ExitCode, 1);
  EXPECT_EQ(Runs.Run(Exe, {Instrument, "--lat", "north"}, 10000).ExitCode, 2);
}

}  // namespace
}  // namespace OrlaqLidar::Test
