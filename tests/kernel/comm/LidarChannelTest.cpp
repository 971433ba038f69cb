#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Platform/FakeUsbDriver.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/LidarProtocol.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::Frame;
using OrlaqLidar::Test::TextFrame;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes BinaryAnswer(const TBytes& payload) { return Frame(payload, true); }

struct TTraceLine {
  char Kind;
  std::string Text;
};

class LidarChannelTest : public Test::TSimulatedTime {
 protected:
  LidarChannelTest() {
    Config.USBDescriptor = "ORML LIDAR";
    Config.DoorsCount = 4;
    Config.DoorsByte = 2;
    Config.InfoBytes = 2;
    Config.BufferLength = 256;
    Config.TimeOut = 2000;
    Device = Usb.AddDevice("ORML LIDAR 1", "LD0001");
  }
  ~LidarChannelTest() override { Channel.reset(); }

  void Build() {
    Channel = std::make_unique<TLidarChannel>(Config);
    Channel->OnTrace = [this](const std::string&, char kind, const uint8_t* data, int length, TDateTime) {
      Traces.push_back({kind, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length))});
    };
    Channel->OnData = [this](TChannel* ch, const uint8_t* data, int length, TDateTime) {
      EXPECT_EQ(ch, Channel.get());
      StateInOnData = Status().AcqState();
      Shots.emplace_back(data, data + length);
    };
  }

  TStatus& Status() { return *Channel->GetStatus(); }

  // Opens the link and lets the channel send its version query.
  void OpenLink() {
    Build();
    Channel->SetConnectState(4);
    Clock.AdvanceMs(3000);
    Channel->Update();
    Loop.AdvanceMs(5);
  }

  // Delivers bytes from the device and lets the reader hand them over.
  void Answer(const TBytes& bytes) {
    Usb.Inject(Device, bytes);
    // One reader cycle: a query sent on the answer leaves at "now".
    Loop.AdvanceMs(1);
  }

  void Connect(const std::string& version = "V1.0") {
    OpenLink();
    ASSERT_EQ(Usb.Written(Device), TextFrame("C"));
    Usb.ClearWritten(Device);
    Answer(TextFrame(version));
    ASSERT_EQ(Status().ConnectState(), TState::Connected);
  }

  // Takes the written query and checks it is the frame of command.
  void ExpectSent(const std::string& command) {
    EXPECT_EQ(Usb.Written(Device), TextFrame(command)) << "expected " << command;
    Usb.ClearWritten(Device);
  }

  bool Traced(char kind, const std::string& text) const {
    for (const auto& t : Traces)
      if (t.Kind == kind && t.Text == text) return true;
    return false;
  }

  TFakeUsbDriver Usb;
  TScopedServices UsbServices{TServices{&Clock, &Loop, &Prompt, &Usb, nullptr}};
  TChannelConfig Config;
  int Device = 0;
  std::unique_ptr<TLidarChannel> Channel;
  std::vector<TTraceLine> Traces;
  std::vector<TBytes> Shots;
  uint8_t StateInOnData = 0;
};

}  // namespace

TEST_F(LidarChannelTest, ConnectsOnlyOnceTheVersionIsAnswered) {
  OpenLink();
  EXPECT_EQ(Usb.Written(Device), TextFrame("C"));
  EXPECT_EQ(Status().ConnectState(), TState::Connecting);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqVersion);
  EXPECT_EQ(Status().Text, "Reading version");
  EXPECT_TRUE(Traced('>', "Ask version"));
  // A second query is refused while the first is pending.
  EXPECT_FALSE(Channel->AskVersion());

  Answer(TextFrame("LID 2.31"));
  EXPECT_EQ(Channel->Version(), "LID 2.31");
  EXPECT_EQ(Status().ConnectState(), TState::Connected);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqIdle);
  EXPECT_EQ(Status().Text, "Read version");
  EXPECT_TRUE(Traced('<', "Got version <LID 2.31>"));
  EXPECT_EQ(Channel->Pending(), 0);
}

TEST_F(LidarChannelTest, AVersionArrivingWhileIdleIsOnlyTraced) {
  Usb.LimitWrites(0);  // the version query cannot be written
  OpenLink();
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqIdle);
  EXPECT_EQ(Status().ConnectState(), TState::Connecting);
  Answer(TextFrame("LID 2.31"));
  EXPECT_EQ(Status().ConnectState(), TState::Connecting);
  EXPECT_EQ(Channel->Version(), "");
}

TEST_F(LidarChannelTest, WithoutLaserCommandsThePowerIsOnlySet) {
  Config.HasLaserCmd = 0;
  Connect();
  EXPECT_TRUE(Channel->SwitchLaser(true));
  EXPECT_TRUE(Usb.Written(Device).empty());
  EXPECT_EQ(Status().PowerState(), TState::LaserOn);
  EXPECT_EQ(Status().Text, "Ready");
  EXPECT_EQ(Status().ChangeMask, TState::Connect | TState::Error | TState::AcqState);

  ASSERT_TRUE(Channel->AskData());
  ExpectSent("A");
  EXPECT_EQ(Status().Text, "Asking data");
  EXPECT_TRUE(Traced('>', "Ask shoot..."));
  Answer(BinaryAnswer({1, 2, 3, 4}));

  EXPECT_TRUE(Channel->SwitchLaser(false));
  EXPECT_TRUE(Usb.Written(Device).empty());
  EXPECT_EQ(Status().PowerState(), TState::LaserOff);
  EXPECT_EQ(Status().Text, "Shutoff");
}

TEST_F(LidarChannelTest, LaserCommandsOfTheFirstForm) {
  Config.HasLaserCmd = 1;
  Connect();
  EXPECT_EQ(Status().ChangeMask, TState::Connect | TState::Power | TState::Error | TState::AcqState);
  ASSERT_TRUE(Channel->SwitchLaser(true));
  ExpectSent("I");
  EXPECT_EQ(Status().PowerState(), TState::WaitingPowerOn);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqLaserOn);
  EXPECT_TRUE(Traced('>', "Ask laser on I"));
  Answer(TextFrame("ok"));
  EXPECT_EQ(Status().PowerState(), TState::LaserWarmup);
  EXPECT_EQ(Status().Text, "Laser on");

  // The laser status is never asked in this form, not even as keep-alive.
  EXPECT_TRUE(Channel->AskLaserStatus());
  Clock.AdvanceMs(5000);
  Channel->KeepAlive(Clock.NowUTC());
  EXPECT_TRUE(Usb.Written(Device).empty());

  Status().SetPowerState(TState::LaserOn);  // the owner ends the warm-up
  ASSERT_TRUE(Channel->AskData());
  ExpectSent("A");

  ASSERT_TRUE(Channel->AskData() == false);  // busy
  const TBytes shot{0x10, 0x00, 0x20, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 0x07, 0x00};
  Answer(BinaryAnswer(shot));
  ASSERT_EQ(Shots.size(), 1u);
  EXPECT_EQ(Shots[0], shot);
  EXPECT_EQ(StateInOnData, TLidarChannel::AcqIdle);
  EXPECT_EQ(Status().Text, "Receive data");
  EXPECT_TRUE(Traced('<', "Receive shoot"));

  ASSERT_TRUE(Channel->SwitchLaser(false));
  ExpectSent("J");
  EXPECT_EQ(Status().PowerState(), TState::WaitingPowerOff);
  Answer(TextFrame("OK"));
  EXPECT_EQ(Status().PowerState(), TState::LaserOff);
  EXPECT_EQ(Status().Text, "Laser off");
}

TEST_F(LidarChannelTest, LaserCommandsOfTheSecondForm) {
  Config.HasLaserCmd = 2;
  Connect();
  ASSERT_TRUE(Channel->SwitchLaser(true));
  ExpectSent("i");
  Answer(TextFrame("OK"));
  ASSERT_EQ(Status().PowerState(), TState::LaserWarmup);

  // A laser still warming up stays there on a status "ok".
  ASSERT_TRUE(Channel->AskLaserStatus());
  ExpectSent("L");
  Answer(TextFrame("ok"));
  EXPECT_EQ(Status().PowerState(), TState::LaserWarmup);
  EXPECT_EQ(Status().Text, "Laser is on");

  Status().SetPowerState(TState::LaserOn);
  ASSERT_TRUE(Channel->AskData());
  ExpectSent("a");
  Answer(BinaryAnswer({9, 9}));

  ASSERT_TRUE(Channel->AskLaserStatus());
  ExpectSent("L");
  Answer(TextFrame("NO"));
  EXPECT_EQ(Status().PowerState(), TState::LaserOff);
  EXPECT_EQ(Status().Text, "Lidar laser off");
  EXPECT_TRUE(Traced('<', "Laser is OFF"));
}

TEST_F(LidarChannelTest, RefusedLaserCommandsAreErrors) {
  Config.HasLaserCmd = 1;
  Connect();
  ASSERT_TRUE(Channel->SwitchLaser(true));
  Answer(TextFrame("NO"));
  EXPECT_EQ(Status().Text, "Error Lidar laser on");
  EXPECT_EQ(Status().Error(), TLidarChannel::ErrLaserOn);
  EXPECT_EQ(Status().PowerState(), TState::WaitingPowerOn);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqIdle);

  ASSERT_TRUE(Channel->SwitchLaser(false));
  EXPECT_EQ(Status().Error(), 0u);  // cleared by the new query
  Answer(TextFrame("??"));
  EXPECT_EQ(Status().Text, "Error Lidar laser off");
  EXPECT_EQ(Status().Error(), TLidarChannel::ErrLaserOff);

  ASSERT_TRUE(Channel->AskVersion());
  Answer(TextFrame("Eu"));
  EXPECT_EQ(Status().Text, "Unknown command sent");
  EXPECT_EQ(Status().Error(), TLidarChannel::ErrUnknownCommand);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqIdle);
}

TEST_F(LidarChannelTest, LaserSecurityOnlyOnUpperCaseKO) {
  Config.HasLaserCmd = 1;
  Connect();
  Status().SetPowerState(TState::LaserOn);

  ASSERT_TRUE(Channel->AskData());
  Answer(BinaryAnswer({'k', 'o'}));  // a shot that happens to read "ko"
  ASSERT_EQ(Shots.size(), 1u);
  EXPECT_EQ(Status().PowerState(), TState::LaserOn);

  ASSERT_TRUE(Channel->AskData());
  Answer(BinaryAnswer({'K', 'O'}));
  EXPECT_EQ(Shots.size(), 1u);
  EXPECT_EQ(Status().Text, "Laser Security!");
  EXPECT_EQ(Status().PowerState(), TState::LaserOff);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqIdle);
  EXPECT_TRUE(Traced('<', "Receive Laser Security!"));
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("Laser Watchdog triggered !(PC was too busy ?)"), std::string::npos);
}

TEST_F(LidarChannelTest, OptionsSetThePortAndAlternateTheDataQueries) {
  EXPECT_EQ(TLidarChannel::SortedOptions(" Q , 1152,HW,"), (std::vector<std::string>{"1152", "HW", "Q"}));
  Config.ProtoOpt = "q,1152,hw";
  Config.HasLaserCmd = 0;
  Connect();
  const auto line = Usb.State(Device);
  EXPECT_EQ(line.Baud, 115200u);
  EXPECT_EQ(line.Flow, FT_FLOW_RTS_CTS);
  EXPECT_TRUE(line.Rts && line.Dtr);

  Channel->SwitchLaser(true);
  for (const char* expected : {"Q", "A", "Q", "A"}) {
    ASSERT_TRUE(Channel->AskData());
    ExpectSent(expected);
    Answer(BinaryAnswer({1, 2}));
  }
  EXPECT_EQ(Shots.size(), 4u);
}

TEST_F(LidarChannelTest, OptionsWithoutBaudRateKeepTheDeviceSettings) {
  Config.ProtoOpt = "HW";
  Connect();
  EXPECT_EQ(Usb.State(Device).Baud, 0u);
}

TEST_F(LidarChannelTest, ATimeOutKeepsTheQueryPendingUntilRetry) {
  Config.HasLaserCmd = 0;
  Connect();
  Channel->SwitchLaser(true);
  ASSERT_TRUE(Channel->AskData());
  ExpectSent("A");

  // A step of the wall clock is no time-out: only the elapsed ticks count.
  Clock.SetNow(Clock.NowUTC() + 1.0);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Error(), 0u);
  Clock.AdvanceMs(1999);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Error(), 0u);
  Clock.AdvanceMs(1);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Text, "Error time out");
  EXPECT_EQ(Status().Error(), TLidarChannel::ErrTimeOut);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqData);
  EXPECT_TRUE(Traced('<', "Error time out"));
  EXPECT_FALSE(Channel->AskData());
  EXPECT_TRUE(Usb.Written(Device).empty());

  Channel->Retry(true);
  ExpectSent("A");
  EXPECT_EQ(Channel->Pending(), 1);
  EXPECT_EQ(Status().Error(), 0u);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqData);

  // Giving up clears the count but leaves the query to its fate.
  Channel->Retry(false);
  EXPECT_EQ(Channel->Pending(), 0);
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqData);

  Answer(BinaryAnswer({5, 6}));
  EXPECT_EQ(Shots.size(), 1u);
}

TEST_F(LidarChannelTest, KeepAliveAsksTheLaserStatusAfterTwoThirdsOfTheTimeOut) {
  Config.HasLaserCmd = 2;
  Config.TimeOut = 3000;
  Connect();
  Channel->SwitchLaser(true);
  ExpectSent("i");
  Answer(TextFrame("OK"));  // 1 ms after the query

  Clock.AdvanceMs(1999);
  Channel->KeepAlive(Clock.NowUTC());
  EXPECT_TRUE(Usb.Written(Device).empty());
  Clock.AdvanceMs(1);
  Channel->KeepAlive(Clock.NowUTC());
  ExpectSent("L");
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqLaserStatus);

  // Laser off: no keep-alive.
  Answer(TextFrame("NO"));
  Clock.AdvanceMs(10000);
  Channel->KeepAlive(Clock.NowUTC());
  EXPECT_TRUE(Usb.Written(Device).empty());
}

TEST_F(LidarChannelTest, ProtocolErrorsReachTheChannelStatus) {
  Connect();
  ASSERT_TRUE(Channel->AskVersion());
  TBytes bad = TextFrame("V2");
  bad.back() = bad.back() == '0' ? '1' : '0';
  Answer(bad);
  EXPECT_EQ(Status().Text, "Protocol error");
  EXPECT_EQ(Status().Error(), TChannel::ErrProtocol);
  bool traced = false;
  for (const auto& t : Traces)
    traced |= t.Kind == '<' && t.Text.rfind("Protocol error:Protocol error - Check Sum", 0) == 0;
  EXPECT_TRUE(traced);
  // The query is still pending.
  EXPECT_EQ(Status().AcqState(), TLidarChannel::AcqVersion);
}

TEST_F(LidarChannelTest, ABlockLargerThanTheBufferIsLeftAlone) {
  Config.BufferLength = 16;
  Connect();
  Traces.clear();
  Usb.Inject(Device, TBytes(20, 'x'));
  Loop.AdvanceMs(3);
  EXPECT_EQ(Channel->Usb()->AvailableBytes(), 20);
  EXPECT_TRUE(Traces.empty());
  // The next query's purge drops it.
  EXPECT_TRUE(Channel->AskVersion());
  EXPECT_EQ(Channel->Usb()->AvailableBytes(), 0);
}

TEST_F(LidarChannelTest, UnknownProtocolRefusesEveryQuery) {
  Config.Protocol = "lidar";
  Build();
  EXPECT_EQ(Status().Text, "Unknown Protocol");
  EXPECT_EQ(Status().Error(), TChannel::ErrProtocol);
  EXPECT_EQ(Channel->Protocol(), nullptr);
  EXPECT_FALSE(Channel->AskVersion());
  EXPECT_FALSE(Channel->SwitchLaser(true));
  EXPECT_FALSE(Channel->AskData());
}
