#include "app/HeadlessRunner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/LidarManager.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {
// A source whose laser takes as long to switch off as the test says.
class TScriptedSource : public TLidarManager {
 public:
  explicit TScriptedSource(TApplicationConfig* c) : TLidarManager(c, "Lidar Acquisition", false) {}
  bool Open() override { return true; }
  bool Close() override { return true; }
  bool Start() override {
    ++starts;
    Status.SetConnectState(TState::Connected);
    return true;
  }
  bool Stop() override {
    ++stops;
    Status.SetConnectState(TState::Disconnected);
    return true;
  }
  bool SetPower(bool on) override {
    if (on) {
      Status.SetPowerState(TState::LaserOn);
    } else {
      ++offRequests;
      Status.SetPowerState(laserObeys ? TState::LaserOff : TState::WaitingPowerOff);
    }
    return true;
  }
  int starts = 0, stops = 0, offRequests = 0;
  bool laserObeys = true;
};
}  // namespace

class HeadlessRunnerTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  HeadlessRunnerTest() {
    TIniFile def;
    def.LoadFromText("[General]\nName=H\n[Instruments]\n[ChannelGroup1]\nGroupID=1\n"
                     "[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=A\n"
                     "[Channel2]\nRecordID=2\nGroupID=1\nName=S\nUSB=B\n"
                     "[Channel3]\nRecordID=10\nGroupID=1\nName=M\nUSB=C\nProtocol=LIDAR_MONITOR\n"
                     "CH1=NAME:Box,U:C,WARNMAX:40,MAX:50\n");
    config.LidarConfig.Load(def);
  }
  void Run(int ms) {
    for (int t = 0; t < ms && !runner.Finished(); t += 100) {
      Loop.AdvanceMs(100);
      runner.Poll();
    }
  }
  TApplicationConfig config;
  TScriptedSource source{&config};
  std::ostringstream out;
  THeadlessRunner runner{source, config, Loop, out, false};
};

TEST_F(HeadlessRunnerTest, RunsForItsDurationThenSwitchesOffAndDisconnects) {
  runner.Start(25);
  EXPECT_EQ(source.starts, 1);
  source.SetPower(true);
  const uint8_t shot[4] = {};
  for (int i = 0; i < 30; ++i) source.DispatchRecord(1, shot, 4, Clock.NowUTC());
  const double hot = 45.5;  // above the warning maximum of the monitoring value
  source.DispatchRecord(10, reinterpret_cast<const uint8_t*>(&hot), 8, Clock.NowUTC());
  Run(24000);
  EXPECT_FALSE(runner.Finished());
  EXPECT_EQ(source.offRequests, 0);
  Run(2000);
  EXPECT_TRUE(runner.Finished());
  EXPECT_EQ(source.offRequests, 1);
  EXPECT_EQ(source.stops, 1);
  EXPECT_TRUE(Loop.QuitRequested());
  EXPECT_EQ(Loop.ExitCode(), 0);
  // Not a terminal: one line every 10 s, then the last state.
  const std::string text = out.str();
  EXPECT_NE(text.find("| Connected | Laser on | shots 1:30 2:0 | "), std::string::npos) << text;
  EXPECT_NE(text.find("alarm: Box 45.50 C (high)"), std::string::npos) << text;
  EXPECT_NE(text.find("Stopped after 25."), std::string::npos) << text;
  EXPECT_NE(text.find("31 records received"), std::string::npos) << text;
}

TEST_F(HeadlessRunnerTest, AStopRequestWaitsAtMostFiveSecondsForTheLaser) {
  source.laserObeys = false;
  runner.Start(0);
  source.SetPower(true);
  Run(3000);
  THeadlessRunner::RequestStop();
  Run(200);
  EXPECT_EQ(source.offRequests, 1);
  EXPECT_FALSE(runner.Finished());
  Run(4500);
  EXPECT_FALSE(runner.Finished());
  Run(600);
  EXPECT_TRUE(runner.Finished());
  EXPECT_EQ(source.stops, 1);
}

TEST_F(HeadlessRunnerTest, TheStatusLineNamesEveryLidarChannel) {
  runner.Start(0);
  const std::string line = runner.StatusLine(EncodeDateTime(2026, 12, 7, 6, 0, 0), 12.34);
  EXPECT_EQ(line, "2026-12-07 06:00:00 | Connected | Laser off | shots 1:0 2:0 | 12.3 rec/s | alarm: none");
  // A recording error is shown while it lasts, before any other alarm.
  source.Status.SetRecordsNotWritten(740);
  const double hot = 45.5;
  source.DispatchRecord(10, reinterpret_cast<const uint8_t*>(&hot), 8, Clock.NowUTC());
  EXPECT_NE(runner.StatusLine(Clock.NowUTC(), 0).find(
                "| alarm: recording error: 740 records not written, Box 45.50 C (high)"),
            std::string::npos);
  source.Status.SetRecordsNotWritten(0);
  EXPECT_NE(runner.StatusLine(Clock.NowUTC(), 0).find("| alarm: Box 45.50 C (high)"), std::string::npos);
  // Its start and its end are printed at once, not only every 10 s.
  const std::string printed = out.str();
  const size_t raised = printed.find("rec/s | alarm: recording error: 740 records not written\n");
  ASSERT_NE(raised, std::string::npos) << printed;
  EXPECT_NE(printed.find("rec/s | alarm: Box 45.50 C (high)\n", raised), std::string::npos) << printed;
  // What a connection still waits for is shown beside it.
  source.Status.Text = "waiting for INS at 10.0.0.7:4001";
  source.Status.SetConnectState(TState::Connecting);
  EXPECT_EQ(runner.StatusLine(EncodeDateTime(2026, 12, 7, 6, 0, 0), 0).substr(20, 48),
            "| Connecting, waiting for INS at 10.0.0.7:4001 |");
  THeadlessRunner::RequestStop();
  Run(200);
}
