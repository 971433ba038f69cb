// The virtual instrument over its sockets, as the program's virtual USB
// backend sees it: a raw client sends hand-built query frames and checks
// the bytes that come back. Unpaced unless a test is about pacing; every
// wait is bounded.
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Common/DateTime.h"
#include "Common/IniFile.h"
#include "Simulator/SimInstrument.h"
#include "kernel/LidarData.h"
#include "tests/Simulator/RawClient.h"
#include "tests/Simulator/SimTestDefinition.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar::Test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const TDateTime Night = EncodeDateTime(2026, 6, 21, 1, 0, 0);
constexpr size_t Shot532 = 2048 * 4 + 16;

double Elapsed(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest() {
    Options.RateLimit = false;
    Options.Now = [] { return Night; };
  }
  ~SimulatorTest() override {
    if (Sim) Sim->Stop();
  }

  void StartSim() {
    Sim = std::make_unique<TSimInstrument>(*Config, Options);
    ASSERT_TRUE(Sim->Start(Dir.Path())) << Sim->LastError();
  }
  int Device(const std::string& description) const { return Sim->FindDevice(description); }
  std::filesystem::path Socket(const std::string& description) const { return Sim->Entry(Device(description)).Socket; }

  // Sends a command and reads its answer; the payload, or "<none>".
  static std::string Ask(TRawClient& c, const std::string& command, bool binary) {
    EXPECT_TRUE(c.Ask(command));
    const TRawAnswer a = c.Read(binary);
    EXPECT_TRUE(a.Complete) << command;
    EXPECT_TRUE(a.ChecksumOk) << command;
    EXPECT_TRUE(a.Prefix.empty()) << command;
    return a.Complete ? a.Payload : "<none>";
  }

  TTempDir Dir;
  std::unique_ptr<TLidarConfig> Config = LoadSimTestDefinition();
  TSimOptions Options;
  std::unique_ptr<TSimInstrument> Sim;
};

TEST_F(SimulatorTest, DevicesFileDescribesOneDevicePerChannelAndGoesAwayWithThem) {
  StartSim();
  ASSERT_EQ(Sim->DeviceCount(), 4);
  EXPECT_EQ(Sim->DevicesFile(), Dir / "devices.ini");
  TIniFile ini((Dir / "devices.ini").string());
  const char* descriptions[] = {"SIM LIDAR 532P", "SIM LIDAR 532S", "SIM LIDAR 1064", "SIM MONITOR"};
  std::vector<std::string> sockets;
  for (int i = 0; i < 4; ++i) {
    const std::string s = "Device" + std::to_string(i);
    EXPECT_EQ(ini.ReadString(s, "Description", ""), descriptions[i]);
    EXPECT_EQ(ini.ReadInteger(s, "Type", 0), 6);
    sockets.push_back(ini.ReadString(s, "Socket", ""));
    EXPECT_TRUE(std::filesystem::is_socket(sockets.back())) << sockets.back();
  }
  EXPECT_FALSE(ini.SectionExists("Device4"));
  // Two ports per chip: one serial number, the port letter last.
  EXPECT_EQ(ini.ReadString("Device1", "SerialNumber", ""), "VL1001B");
  EXPECT_EQ(ini.ReadString("Device2", "SerialNumber", ""), "VL1002A");
  EXPECT_NE(ini.ReadInteger("Device0", "LocationId", 0), ini.ReadInteger("Device1", "LocationId", 0));

  Sim->Stop();
  EXPECT_FALSE(std::filesystem::exists(Dir / "devices.ini"));
  for (const auto& s : sockets) EXPECT_FALSE(std::filesystem::exists(s)) << s;
}

// The command set itself is the device's (SimDeviceTest); here it goes
// over the socket, with the laser shared by the boards of a group.
TEST_F(SimulatorTest, LidarChannelAnswersOverItsSocketAndAGroupSharesItsLaser) {
  StartSim();
  TRawClient c(Socket("SIM LIDAR 532P"));
  TRawClient perpendicular(Socket("SIM LIDAR 532S"));
  TRawClient infrared(Socket("SIM LIDAR 1064"));
  ASSERT_TRUE(c.IsOpen());
  EXPECT_EQ(Ask(c, "C", false), "LS261001 104532P");
  EXPECT_EQ(Ask(c, "a", true), "KO");
  EXPECT_EQ(Ask(c, "i", false), "OK");
  EXPECT_TRUE(Sim->LaserOn(1));
  EXPECT_EQ(Ask(perpendicular, "A", true).size(), Shot532);
  EXPECT_EQ(Ask(infrared, "A", true), "KO");  // another group, another laser

  ASSERT_TRUE(c.Ask("a"));
  const TRawAnswer shot = c.Read(true, 2000, Shot532);
  ASSERT_TRUE(shot.Complete);
  EXPECT_TRUE(shot.ChecksumOk);
  ASSERT_EQ(shot.Payload.size(), Shot532);
  TLidarData data(Config->Channels[0].get(), reinterpret_cast<const uint8_t*>(shot.Payload.data()), Shot532);
  double pulses = 0;
  ASSERT_TRUE(data.FindByCode("SHOOT", pulses));
  EXPECT_EQ(pulses, 1000);

  // A safety cut-out: data queries get "KO" until the laser is switched on again.
  Sim->TripLaser(1);
  EXPECT_EQ(Ask(c, "a", true), "KO");
  EXPECT_EQ(Ask(c, "L", false), "NO");
  EXPECT_EQ(Ask(c, "i", false), "OK");
  EXPECT_EQ(Ask(c, "J", false), "OK");
  EXPECT_FALSE(Sim->LaserOn(1));
  EXPECT_TRUE(c.Pending().empty());
}

TEST_F(SimulatorTest, ShotsStreamFastWithFreshNoiseEachTime) {
  StartSim();
  TRawClient c(Socket("SIM LIDAR 532P"));
  ASSERT_EQ(Ask(c, "i", false), "OK");
  const int shots = 300;
  std::string previous;
  int same = 0;
  const auto start = Clock::now();
  for (int i = 0; i < shots; ++i) {
    ASSERT_TRUE(c.Ask("a"));
    const TRawAnswer a = c.Read(true, 2000, Shot532);
    ASSERT_TRUE(a.Complete && a.ChecksumOk) << i;
    same += a.Payload == previous;
    previous = a.Payload;
  }
  const double ms = Elapsed(start);
  EXPECT_EQ(same, 0);
  const double mbPerSecond = shots * (Shot532 + 10) / ms / 1000;
  RecordProperty("MBPerSecond", std::to_string(mbPerSecond));
  // A loose floor: this build carries sanitizers.
  EXPECT_GT(mbPerSecond, 2.0);
}

TEST_F(SimulatorTest, InjectedFaultsReachTheWire) {
  StartSim();
  const int d = Device("SIM LIDAR 532P");
  TSimDeviceServer& server = Sim->Server(d);
  TRawClient c(Socket("SIM LIDAR 532P"));

  // A corrupted checksum is detectable; the next answer is sound again.
  server.CorruptAnswers();
  ASSERT_TRUE(c.Ask("C"));
  TRawAnswer a = c.Read(false);
  ASSERT_TRUE(a.Complete);
  EXPECT_FALSE(a.ChecksumOk);
  EXPECT_EQ(Ask(c, "C", false).substr(0, 8), "LS261001");

  // A dropped answer never comes; the device still answers the next query.
  server.DropAnswers();
  ASSERT_TRUE(c.Ask("L"));
  EXPECT_FALSE(c.Read(false, 200).Complete);
  EXPECT_EQ(Ask(c, "L", false), "NO");
  EXPECT_EQ(server.AnswersDropped(), 1u);

  // A delayed answer.
  server.DelayAnswers(150);
  const auto start = Clock::now();
  EXPECT_EQ(Ask(c, "L", false), "NO");
  EXPECT_GE(Elapsed(start), 140);

  // Answers replaced by the instrument's refusals, in the form of the query.
  ASSERT_EQ(Ask(c, "i", false), "OK");
  server.ReplaceAnswers("KO");
  EXPECT_EQ(Ask(c, "a", true), "KO");
  server.ReplaceAnswers("eU");
  EXPECT_EQ(Ask(c, "C", false), "eU");

  // Line noise ahead of an answer, and bytes nobody asked for.
  server.InjectGarbage(std::string("\x55\xAA\x00\xFF", 4));
  ASSERT_TRUE(c.Ask("L"));
  a = c.Read(false);
  ASSERT_TRUE(a.Complete);
  EXPECT_TRUE(a.ChecksumOk);
  EXPECT_EQ(a.Prefix, std::string("\x55\xAA\x00\xFF", 4));
  server.SendNow("junk");
  EXPECT_EQ(c.ReadBytes(4), "junk");
}

TEST_F(SimulatorTest, UnplugClosesTheLinkAndRefusesUntilPluggedAgain) {
  StartSim();
  TSimDeviceServer& server = Sim->Server(Device("SIM LIDAR 1064"));
  const auto path = Socket("SIM LIDAR 1064");
  TRawClient c(path);
  EXPECT_EQ(Ask(c, "I", false), "OK");

  server.Unplug();
  EXPECT_TRUE(c.WaitClosed(1000));
  EXPECT_FALSE(server.Plugged());
  TRawClient refused;
  EXPECT_FALSE(refused.Connect(path));

  server.Replug();
  TRawClient back(path);
  ASSERT_TRUE(back.IsOpen());
  // The instrument kept its state while the link was away.
  EXPECT_EQ(Ask(back, "A", true).size(), 1024u * 2 + 6);

  // Plugged in again by itself after a while.
  server.Unplug(100);
  EXPECT_TRUE(back.WaitClosed(1000));
  EXPECT_FALSE(refused.Connect(path));
  const auto start = Clock::now();
  while (!refused.Connect(path) && Elapsed(start) < 2000) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(refused.IsOpen());
  EXPECT_GE(Elapsed(start), 50);
  EXPECT_EQ(Ask(refused, "C", false).substr(0, 8), "LS261001");
}

TEST_F(SimulatorTest, NewConnectionTakesOverTheDevice) {
  StartSim();
  TSimDeviceServer& server = Sim->Server(Device("SIM LIDAR 532P"));
  const auto path = Socket("SIM LIDAR 532P");
  TRawClient first(path);
  EXPECT_EQ(Ask(first, "C", false).substr(0, 8), "LS261001");
  // Half a query from the first host must not spoil the next one's.
  ASSERT_TRUE(first.Send("\x02L"));
  TRawClient second(path);
  EXPECT_TRUE(first.WaitClosed(1000));
  EXPECT_EQ(Ask(second, "L", false), "NO");
  second.Close();
  TRawClient third(path);
  EXPECT_EQ(Ask(third, "L", false), "NO");
  EXPECT_EQ(server.Connections(), 3u);
  EXPECT_TRUE(server.Connected());
}

TEST_F(SimulatorTest, WatchdogCutsTheLaserOfAnIdleHost) {
  Options.WatchdogMs = 50;
  StartSim();
  TRawClient c(Socket("SIM LIDAR 532P"));
  ASSERT_EQ(Ask(c, "i", false), "OK");
  EXPECT_EQ(Ask(c, "a", true).size(), Shot532);
  std::this_thread::sleep_for(120ms);
  EXPECT_EQ(Ask(c, "a", true), "KO");
}

TEST_F(SimulatorTest, StartFailsCleanlyWhenTheSocketsCannotBeMade) {
  Sim = std::make_unique<TSimInstrument>(*Config, Options);
  const std::filesystem::path tooLong = Dir / std::string(120, 'x');
  EXPECT_FALSE(Sim->Start(tooLong));
  EXPECT_NE(Sim->LastError().find("too long"), std::string::npos) << Sim->LastError();
  EXPECT_FALSE(Sim->Running());
  // A usable folder afterwards works.
  EXPECT_TRUE(Sim->Start(Dir.Path()));
}

}  // namespace
}  // namespace OrlaqLidar::Test
