// The live acquisition source over a fake instrument and a fake INS socket,
// in simulated time.
#include "kernel/LidarAcquisition.h"

#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Platform/FakeSocketFactory.h"
#include "kernel/ErrorLogger.h"
#include "kernel/comm/Airins.h"
#include "kernel/comm/Lidar.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TFakeInstrument;

class LidarAcquisitionTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidarAcquisitionTest() : services_(TServices{&Clock, &Loop, &Prompt, &usb, &sockets}) {
    p = usb.AddDevice("DEV P", "A1");
    instrument.shotBytes[p] = 64;
  }
  ~LidarAcquisitionTest() override {
    if (source) {
      source->Stop();
      source->Close();
    }
    source.reset();
    Loop.ProcessPosted();
  }
  void Make(bool airins, bool autoPower) {
    TIniFile def;
    def.LoadFromText(std::string("[General]\nName=Acq\n[Instruments]\nAirins=") + (airins ? "1" : "0") +
                     "\n[Airins]\nRecordID=99\nTimeOut=5000\n[ChannelGroup1]\nGroupID=1\nHeatingTime=0\n"
                     "[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=DEV P\nHasLaserCmd=2\nDoorsCount=16\n"
                     "DoorsByte=4\n");
    ASSERT_TRUE(config.LidarConfig.Load(def));
    config.ConfigFolder = dir.Path().string();
    config.EnableAirins = airins;
    config.AutoPower = autoPower;
    source = std::make_unique<TLidarAcquisition>(&config);
    source->AddDataConsumer(this, [this](int id, const uint8_t*, int, TDateTime) { ++records[id]; });
    ASSERT_TRUE(source->Open());
  }
  int Logged(const std::string& text) const {
    int n = 0;
    for (const auto& line : LogLines) n += line.find(text) != std::string::npos;
    return n;
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) {
      Loop.AdvanceMs(100);
      source->OnTimer(Clock.NowUTC());
    }
  }

  OrlaqLidar::Test::TTempDir dir;
  TFakeUsbDriver usb;
  TFakeSocketFactory sockets;
  TScopedServices services_;
  TFakeInstrument instrument{usb};
  int p = 0;
  TApplicationConfig config;
  std::unique_ptr<TLidarAcquisition> source;
  std::map<int, int> records;
};

TEST_F(LidarAcquisitionTest, ConnectsTakesTheSerialNumberAndPowersOnAndOff) {
  Make(false, false);
  ASSERT_TRUE(source->Start());
  EXPECT_EQ(source->Status.ConnectState(), TState::Connecting);
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source->Status.Text, "Laser off");
  EXPECT_EQ(config.Setup.SerialNumber, "LIDSIM01");
  EXPECT_EQ(source->GetSerialNumber(), "LIDSIM01");

  source->SetPower(true);
  EXPECT_EQ(source->Status.PowerState(), TState::WaitingPowerOn);
  Run(1000);
  EXPECT_EQ(source->Status.PowerState(), TState::LaserOn);
  EXPECT_EQ(source->Status.Text, "Laser on");
  EXPECT_GT(records[1], 3);
  // Already on: nothing is sent again.
  const int onCommands = instrument.Count(p, 'i');
  source->SetPower(true);
  EXPECT_EQ(instrument.Count(p, 'i'), onCommands);

  source->SetPower(false);
  EXPECT_EQ(source->Status.PowerState(), TState::WaitingPowerOff);
  Run(500);
  EXPECT_EQ(source->Status.PowerState(), TState::LaserOff);
  source->Stop();
  Run(200);
  EXPECT_EQ(source->Status.ConnectState(), TState::Disconnected);
}

TEST_F(LidarAcquisitionTest, AutoPowerSwitchesTheLaserBackOnUntilSwitchedOffByHand) {
  Make(false, true);
  source->Start();
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);
  Run(1000);  // auto-power at the first tick after the connection
  ASSERT_EQ(source->Status.PowerState(), TState::LaserOn);
  // The laser watchdog trips: the instrument answers "KO" and the laser is off.
  instrument.laser[p] = false;
  instrument.shotBytes[p] = 0;
  usb.OnWrite = [this](int dev, const std::vector<uint8_t>& bytes) {
    if (bytes.size() > 1 && (bytes[1] == 'a' || bytes[1] == 'A') && instrument.shotBytes[dev] == 0)
      usb.Inject(dev, OrlaqLidar::Test::Frame({'K', 'O'}, true));
    else
      instrument.Answer(dev, bytes);
  };
  Run(300);
  instrument.shotBytes[p] = 64;
  Run(1500);
  EXPECT_EQ(source->Status.PowerState(), TState::LaserOn);
  EXPECT_GE(instrument.Count(p, 'i'), 2);

  source->SetPower(false);
  Run(2000);
  EXPECT_FALSE(source->AutoPower());
  EXPECT_EQ(source->Status.PowerState(), TState::LaserOff);
}

TEST_F(LidarAcquisitionTest, TheInsJoinsTheConnectionAndIsRetriedWhenLost) {
  Make(true, false);
  ASSERT_NE(source->Airins(), nullptr);
  source->Start();
  ASSERT_NE(sockets.Last(), nullptr);
  sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  // The INS is connected, the instrument still waits for its first open.
  EXPECT_EQ(source->Status.ConnectState(), TState::Connecting);
  EXPECT_EQ(source->Status.Text, "Connecting");
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);

  // The link drops: the lidar goes on, and the INS is tried again within 5 s.
  const int created = sockets.Created();
  sockets.Last()->RemoteClose();
  Loop.ProcessPosted();
  EXPECT_EQ(source->Status.ConnectState(), TState::Connected);
  Run(5200);
  EXPECT_GT(sockets.Created(), created);
  sockets.Last()->AcceptConnection();
  Run(200);
  EXPECT_EQ(source->Airins()->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source->Status.ConnectState(), TState::Connected);
}

TEST_F(LidarAcquisitionTest, TheSourceErrorIsClearedOnceTheInstrumentHasRecovered) {
  Make(false, false);
  source->Start();
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);
  // The board refuses a command: a channel error, reported up to the source.
  usb.OnWrite = [this](int dev, const std::vector<uint8_t>&) {
    usb.Inject(dev, OrlaqLidar::Test::Frame({'e', 'U'}, false));
  };
  source->SetPower(true);
  Run(300);
  EXPECT_EQ(source->Lidar()->Status.Error(), 0x8000000Du);
  // The board is unplugged: the instrument's next notice carries its error
  // up to the source.
  usb.OnWrite = [this](int dev, const std::vector<uint8_t>& bytes) { instrument.Answer(dev, bytes); };
  usb.Unplug(p);
  Run(3000);
  EXPECT_EQ(source->Status.Error(), 0x8000000Eu);
  // It comes back: everything answers again.
  p = usb.AddDevice("DEV P", "A1");
  instrument.shotBytes[p] = 64;
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source->Lidar()->Status.Error(), 0u);
  EXPECT_EQ(source->Status.Error(), 0u);
}

TEST_F(LidarAcquisitionTest, AnInsRefusedAtStartIsTriedAgainAndTheSourceSaysItWaitsForIt) {
  Make(true, true);
  source->Start();
  ASSERT_NE(sockets.Last(), nullptr);
  sockets.Last()->RefuseConnection();
  Loop.ProcessPosted();
  Run(3500);
  // The instrument answers; the source still waits for the INS, and says so.
  EXPECT_EQ(source->Lidar()->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source->Status.ConnectState(), TState::Connecting);
  EXPECT_EQ(source->Status.Text, "waiting for INS at 127.0.0.1:1234");
  EXPECT_EQ(instrument.Count(p, 'i'), 0);
  EXPECT_EQ(Logged("INS at 127.0.0.1:1234 not reached: Connection refused"), 1);

  // The unit is up 4 s after the start; the attempt 5 s after the first gets through.
  Run(1000);
  EXPECT_EQ(sockets.Created(), 1);
  Run(1000);
  ASSERT_EQ(sockets.Created(), 2);
  sockets.Last()->AcceptConnection();
  Run(1000);
  EXPECT_EQ(source->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source->Status.PowerState(), TState::LaserOn);
  EXPECT_GT(records[1], 0);
}

TEST_F(LidarAcquisitionTest, AnInsAttemptThatHangsIsGivenUpAndTriedAgainEveryFiveSeconds) {
  Make(true, false);
  source->Start();
  Run(5000);
  EXPECT_EQ(source->Status.Text, "waiting for INS at 127.0.0.1:1234");
  Run(5000);
  // Nothing answered either attempt: each was abandoned and logged (the
  // second as a repetition of the first).
  EXPECT_EQ(sockets.Created(), 3);
  TErrorLogger::Instance().FlushRepeats();
  EXPECT_EQ(Logged("INS at 127.0.0.1:1234 not reached: Connection timed out"), 2);
  EXPECT_EQ(source->Status.ConnectState(), TState::Connecting);
}

TEST_F(LidarAcquisitionTest, AnInsLostAfterTheConnectionIsLoggedOnceWhileItsRetriesFail) {
  Make(true, false);
  source->Start();
  sockets.Last()->AcceptConnection();
  Run(5000);
  ASSERT_EQ(source->Status.ConnectState(), TState::Connected);
  sockets.Last()->RemoteClose();
  Loop.ProcessPosted();
  for (int attempt = 0; attempt < 3; ++attempt) {
    Run(5000);
    sockets.Last()->RefuseConnection();
    Loop.ProcessPosted();
  }
  TErrorLogger::Instance().FlushRepeats();
  EXPECT_EQ(sockets.Created(), 4);
  EXPECT_EQ(Logged("INS link lost"), 1);
  // Each failed attempt says why (the same reason collapsed into a count).
  EXPECT_EQ(Logged("not reached: Connection refused"), 1);
  EXPECT_TRUE(LogLines.back().ends_with(" repeated 2 time(s)")) << LogLines.back();
  EXPECT_EQ(source->Status.ConnectState(), TState::Connected);
}
