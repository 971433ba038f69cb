// The instrument's power sequence and scheduling against fake USB devices
// that answer like the real hardware, in simulated time.
#include "kernel/comm/Lidar.h"

#include <gtest/gtest.h>

#include <map>

#include "Common/IniFile.h"
#include "Platform/FakeUsbDriver.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/MonitorChannel.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TFakeInstrument;


class LidarTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidarTest() : services_(TServices{&Clock, &Loop, &Prompt, &usb, nullptr}) {}
  ~LidarTest() override {
    lidar.reset();
    Loop.ProcessPosted();
  }

  void Load(const std::string& text) {
    TIniFile ini;
    ini.LoadFromText(text);
    ASSERT_TRUE(config.Load(ini)) << (Prompt.Warnings.empty() ? "" : Prompt.Warnings[0]);
    lidar = std::make_unique<TLidar>(&config);
    lidar->OnData = [this](int id, const uint8_t*, int, TDateTime t) { shots[id].push_back(t); };
    lidar->OnTrace = [this](const std::string& src, int kind, const uint8_t* d, int n, TDateTime) {
      if (src == "Lidar" && kind == '=') traces.emplace_back(reinterpret_cast<const char*>(d), n);
    };
    ASSERT_TRUE(lidar->Build());
  }
  // Runs the 100 ms tick the acquisition source gives the instrument.
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) {
      Loop.AdvanceMs(100);
      lidar->Tick(Clock.NowUTC());
    }
  }
  void ConnectAll() {
    lidar->Connect();
    Run(5000);
    ASSERT_EQ(lidar->Status.ConnectState(), TState::Connected) << lidar->Status.Text;
  }

  // Two channels of one group on devices P and S, connected.
  void ConnectTwoChannels(int heating, int periodMin, int cmd1 = 2, int cmd2 = 2) {
    p = usb.AddDevice("DEV P", "A1");
    s = usb.AddDevice("DEV S", "A2");
    instrument.shotBytes[p] = instrument.shotBytes[s] = 64;
    Load(TwoChannels(heating, periodMin, cmd1, cmd2));
    ConnectAll();
  }
  // Lasers on and past a warm-up of 0.
  void LasersOn() {
    lidar->SetPowerState(TState::LaserOn);
    Run(500);
    ASSERT_EQ(lidar->Status.PowerState(), TState::LaserOn);
  }

  static std::string TwoChannels(int heating, int periodMin, int cmd1 = 2, int cmd2 = 2) {
    return "[General]\nName=Test\n[Instruments]\nMonitorTimeData=800\n"
           "[ChannelGroup1]\nGroupID=1\nHeatingTime=" +
           std::to_string(heating) + "\nPeriodMin=" + std::to_string(periodMin) +
           "\n[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=DEV P\nHasLaserCmd=" + std::to_string(cmd1) +
           "\nDoorsCount=16\nDoorsByte=4\nTimeOut=500\n"
           "[Channel2]\nRecordID=2\nGroupID=1\nName=S\nUSB=DEV S\nHasLaserCmd=" +
           std::to_string(cmd2) + "\nDoorsCount=16\nDoorsByte=4\nTimeOut=500\n";
  }

  TFakeUsbDriver usb;
  TScopedServices services_;
  TFakeInstrument instrument{usb};
  TLidarConfig config;
  std::unique_ptr<TLidar> lidar;
  std::map<int, std::vector<TDateTime>> shots;
  std::vector<std::string> traces;
  int p = 0, s = 0;
};

TEST_F(LidarTest, WarmsUpForHeatingTimeThenShootsBothChannelsTogether) {
  ConnectTwoChannels(3, 0);
  EXPECT_EQ(lidar->Version(), "LIDSIM01");

  lidar->SetPowerState(TState::LaserOn);
  EXPECT_EQ(lidar->Status.PowerState(), TState::WaitingPowerOn);
  Run(300);
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserWarmup);
  EXPECT_EQ(lidar->Status.Text, "Warmup...");
  Run(2500);  // 2.8 s after the request: still warming up, no shot asked
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserWarmup);
  EXPECT_EQ(instrument.Count(p, 'a') + instrument.Count(s, 'a'), 0);
  Run(500);
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserOn);
  EXPECT_EQ(lidar->Status.Text, "Power on");
  Run(1000);
  // PeriodMin 0: a new round as soon as both answered, so many shots, and
  // both channels of the group asked the same number of times (within one).
  EXPECT_GT(shots[1].size(), 5u);
  EXPECT_LE(std::abs(static_cast<int>(shots[1].size()) - static_cast<int>(shots[2].size())), 1);
  EXPECT_FALSE(traces.empty());
  EXPECT_NE(traces.back().find(" => "), std::string::npos);

  // Asking again for what is already there sends nothing.
  const int onCommands = instrument.Count(p, 'i');
  lidar->SetPowerState(TState::LaserOn);
  EXPECT_EQ(instrument.Count(p, 'i'), onCommands);

  lidar->SetPowerState(TState::LaserOff);
  Run(500);
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserOff);
  const size_t after = shots[1].size();
  Run(1000);
  EXPECT_EQ(shots[1].size(), after);
}

TEST_F(LidarTest, AGroupWithOneSilentChannelGetsNoNewShotQuery) {
  ConnectTwoChannels(0, 0);
  LasersOn();
  instrument.muteData.insert(s);
  const int asked = instrument.Count(p, 'a');
  Run(300);  // below the 500 ms time-out: S still busy, so P waits too
  EXPECT_LE(instrument.Count(p, 'a'), asked + 1);
}

TEST_F(LidarTest, AShotHoldingTheEndMarkerIsDeliveredAndNotAskedAgain) {
  ConnectTwoChannels(0, 100);
  LasersOn();
  // Saturated gates that read as an end marker and two checksum digits; the
  // shot arrives in two reads, cut right after them.
  std::vector<uint8_t> payload(64, 0x01);
  const std::vector<uint8_t> inner{0xFF, 0xFF, 0xFF, 0x03, '4', '2'};
  std::copy(inner.begin(), inner.end(), payload.begin() + 20);
  const std::vector<uint8_t> frame = OrlaqLidar::Test::Frame(payload, true);
  usb.OnWrite = [&](int dev, const std::vector<uint8_t>& bytes) {
    if (dev == p && bytes.size() > 1 && bytes[1] == 'a') {
      instrument.log[dev].push_back('a');
      usb.Inject(dev, std::vector<uint8_t>(frame.begin(), frame.begin() + 30));
      usb.Inject(dev, std::vector<uint8_t>(frame.begin() + 30, frame.end()));
    } else {
      instrument.Answer(dev, bytes);
    }
  };
  shots.clear();
  const int asked = instrument.Count(p, 'a');
  Run(1600);
  const int queries = instrument.Count(p, 'a') - asked;
  const int delivered = static_cast<int>(shots[1].size());
  EXPECT_GE(delivered, 10);
  // One query per shot, the last one possibly still on its way.
  EXPECT_GE(queries, delivered);
  EXPECT_LE(queries, delivered + 1);
  EXPECT_EQ(lidar->Status.Error(), 0u);
  EXPECT_EQ(lidar->LidarChannels()[0]->GetStatus()->Error(), 0u);
}

TEST_F(LidarTest, PeriodMinSpacesTheShotRounds) {
  ConnectTwoChannels(0, 200);
  lidar->SetPowerState(TState::LaserOn);
  Run(3000);
  ASSERT_GT(shots[1].size(), 5u);
  for (size_t i = 1; i < shots[1].size(); ++i)
    EXPECT_GE(ElapsedMs(shots[1][i - 1], shots[1][i]), 200);
}

TEST_F(LidarTest, WithoutLaserCommandsThePowerFollowsOnAtOnce) {
  ConnectTwoChannels(0, 0, 0, 0);
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserOn);
  EXPECT_EQ(instrument.Count(p, 'I') + instrument.Count(p, 'i'), 0);
}

TEST_F(LidarTest, ThreeTimeOutsInARowReconnectTheChannel) {
  ConnectTwoChannels(0, 0);
  LasersOn();
  const int versions = instrument.Count(s, 'C');
  std::vector<uint8_t> states;
  lidar->LidarChannels()[1]->GetStatus()->OnChange = [&, inner = lidar->LidarChannels()[1]->GetStatus()->OnChange](
                                                         TStatus* st, TState::ChangeRaison r) {
    if (r & TState::Connect) states.push_back(st->ConnectState());
    inner(st, r);
  };
  instrument.muteData.insert(s);
  Run(2500);  // the query and its two repeats time out
  instrument.muteData.erase(s);
  Run(5000);
  EXPECT_GT(instrument.Count(s, 'C'), versions);  // a new version query after the reconnection
  ASSERT_GE(states.size(), 2u);
  EXPECT_NE(std::find(states.begin(), states.end(), TState::Connecting), states.end());
  EXPECT_EQ(lidar->LidarChannels()[1]->GetConnectState(), TState::Connected);
  lidar.reset();  // the hook above refers to this test's locals
}

TEST_F(LidarTest, SwitchingOffEndsOnlyWhenEveryLaserIsOff) {
  const int a = usb.AddDevice("DEV A", "A1");
  const int b = usb.AddDevice("DEV B", "B1");
  instrument.shotBytes[a] = instrument.shotBytes[b] = 64;
  Load("[General]\nName=T\n[Instruments]\n[ChannelGroup1]\nGroupID=1\nHeatingTime=0\n"
       "[ChannelGroup2]\nGroupID=2\nHeatingTime=0\n"
       "[Channel1]\nRecordID=1\nGroupID=1\nName=A\nUSB=DEV A\nHasLaserCmd=2\nDoorsCount=16\nDoorsByte=4\nTimeOut=500\n"
       "[Channel2]\nRecordID=2\nGroupID=2\nName=B\nUSB=DEV B\nHasLaserCmd=2\nDoorsCount=16\nDoorsByte=4\nTimeOut=500\n");
  ConnectAll();
  lidar->SetPowerState(TState::LaserOn);
  Run(500);
  ASSERT_EQ(lidar->Status.PowerState(), TState::LaserOn);
  // A's data query is pending when the lasers are switched off: its laser-off
  // command waits in the queue while B's laser goes off at once.
  instrument.muteData.insert(a);
  Run(200);
  lidar->SetPowerState(TState::LaserOff);
  instrument.muteData.erase(a);
  Run(100);
  EXPECT_FALSE(instrument.laser[b]);
  EXPECT_TRUE(instrument.laser[a]);
  EXPECT_EQ(lidar->Status.PowerState(), TState::WaitingPowerOff);
  Run(2000);
  EXPECT_FALSE(instrument.laser[a]);
  EXPECT_EQ(lidar->Status.PowerState(), TState::LaserOff);
}

TEST_F(LidarTest, DisconnectDropsQueuedCommands) {
  usb.AddDevice("DEV P", "A1");
  usb.AddDevice("DEV S", "A2");
  Load(TwoChannels(0, 0));
  // Not connected: the laser commands cannot be written and are queued.
  lidar->SetPowerState(TState::LaserOn);
  EXPECT_EQ(lidar->Queue().size(), 2u);
  lidar->Disconnect();
  EXPECT_TRUE(lidar->Queue().empty());
  EXPECT_THROW(lidar->SetPowerState(TState::WaitingPowerOn), std::exception);
}

TEST_F(LidarTest, MonitoringChannelIsPingedThenMeasuredEveryMonitorTimeData) {
  const int p = usb.AddDevice("DEV P", "A1");
  const int m = usb.AddDevice("DEV MON", "M1");
  instrument.shotBytes[p] = 64;
  instrument.monitors.insert(m);
  Load("[General]\nName=T\n[Instruments]\nMonitorTimeData=800\n[ChannelGroup1]\nGroupID=1\n"
       "[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=DEV P\nHasLaserCmd=2\nDoorsCount=16\nDoorsByte=4\n"
       "[Channel2]\nRecordID=10\nGroupID=1\nName=M\nUSB=DEV MON\nProtocol=LIDAR_MONITOR\n"
       "CH1=NAME:T1,U:C,MAX:30\nCH3=NAME:T2,U:C,MAX:20\n");
  ConnectAll();
  EXPECT_EQ(instrument.Count(m, 'P'), 1);
  shots.clear();
  Run(4000);
  // Two measures a cycle ("Z" for CH1, "C" for CH3), about one cycle per 800 ms.
  EXPECT_GE(shots[10].size(), 4u);
  EXPECT_LE(shots[10].size(), 6u);
  EXPECT_EQ(instrument.Count(m, 'Z'), instrument.Count(m, 'C'));
  EXPECT_TRUE(lidar->MonitoringAlarm());  // 21.5 is above T2's maximum of 20
}

TEST_F(LidarTest, AnInstrumentThatCannotConnectSaysWhichChannelsItWaitsForAndWhy) {
  p = usb.AddDevice("DEV P", "A1");  // DEV S is not plugged in
  Load(TwoChannels(0, 0));
  lidar->Connect();
  Run(9900);
  EXPECT_TRUE(LogLines.empty());
  Run(200);
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("Lidar not connected after 10 s, 1 of 2 channels waiting: Channel DEV S Connecting"),
            std::string::npos)
      << LogLines[0];
  EXPECT_NE(LogLines[0].find("(USB: "), std::string::npos) << LogLines[0];
  Run(59000);
  EXPECT_EQ(LogLines.size(), 1u);  // then once a minute
  Run(1000);
  EXPECT_EQ(LogLines.size(), 2u);

  // Plugged in: connects, and says nothing more.
  s = usb.AddDevice("DEV S", "A2");
  Run(5000);
  ASSERT_EQ(lidar->Status.ConnectState(), TState::Connected);
  Run(120000);
  EXPECT_EQ(LogLines.size(), 2u);
}

TEST_F(LidarTest, AnAnswerWaitingBehindABusyLoopIsReadNotTimedOut) {
  ConnectTwoChannels(0, 0);
  LasersOn();
  // The main loop is held (a long tick elsewhere) while the answers arrive:
  // the reader timers run, the posted wake-ups do not.
  const size_t before = shots[1].size();
  Loop.HoldPosted(true);
  Loop.AdvanceMs(1000);  // the answers reach the USB rings; well past the 500 ms time-out
  lidar->Tick(Clock.NowUTC());
  Loop.HoldPosted(false);
  EXPECT_GT(shots[1].size(), before);
  EXPECT_EQ(lidar->Status.Error(), 0u) << lidar->Status.Text;
  for (const std::string& t : traces) EXPECT_EQ(t.find("time out"), std::string::npos) << t;
}

TEST_F(LidarTest, ManyChannelsOpenTheirDevicesAFewPerTickAndAllConnect) {
  const int count = TLidar::DeviceOpensPerTick * 2 + 1;
  std::string text = "[ChannelGroup1]\nGroupID=1\nHeatingTime=0\n";
  for (int i = 1; i <= count; ++i) {
    const std::string n = std::to_string(i);
    text += "[Channel" + n + "]\nRecordID=" + n + "\nGroupID=1\nName=C" + n + "\nUSB=DEV " + n +
            "X\nDoorsCount=16\nDoorsByte=4\n";
    instrument.shotBytes[usb.AddDevice("DEV " + n + "X", "A" + n)] = 64;
  }
  Load(text);
  lidar->Connect();
  auto opened = [this] {
    int n = 0;
    for (const auto& ch : lidar->LidarChannels()) n += ch->LinkStatus().ConnectState() == TState::Connected;
    return n;
  };
  Clock.AdvanceMs(TChannel::FirstOpenDelayMs);
  for (const int expected : {TLidar::DeviceOpensPerTick, 2 * TLidar::DeviceOpensPerTick, count}) {
    lidar->Tick(Clock.NowUTC());
    EXPECT_EQ(opened(), expected);
  }
  Run(3000);
  EXPECT_EQ(lidar->Status.ConnectState(), TState::Connected) << lidar->Status.Text;
}
