// Channels against the simulated instrument for real: the virtual USB
// backend over local sockets, one reader thread per device, Qt's event loop
// on the test thread and the real clock. The channel's owner is played by
// the test: a 100 ms timer runs CheckTimeOut, as the instrument's tick does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "Simulator/SimInstrument.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/MonitorChannel.h"
#include "tests/TestSupport.h"
#include "tests/kernel/LiveLoop.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::RunFor;

namespace {

constexpr int LidarRecordID = 1;    // 532 parallel: drives the laser of group 1
constexpr int MonitorRecordID = 10;
constexpr uint32_t QueueStatusIoError = 0x80000000u | 404u;

class ChannelIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrlaqLidar::EnsureQtApplication();
    config_ = OrlaqLidar::Test::LoadDefinitionFile(OrlaqLidar::Test::ShippedDefinitionPath());
    ASSERT_TRUE(config_) << OrlaqLidar::Test::ShippedDefinitionPath();
    sim_ = std::make_unique<TSimInstrument>(*config_);
    ASSERT_TRUE(sim_->Start(dir_.Path())) << sim_->LastError();
    std::string error;
    usb_ = CreateUsbDriver("virtual:" + sim_->DevicesFile().string(), error);
    ASSERT_TRUE(usb_) << error;
    loop_ = std::make_unique<TQtMainLoop>();
    services_ = std::make_unique<TScopedServices>(TServices{&clock_, loop_.get(), nullptr, usb_.get(), nullptr});
  }

  void TearDown() override {
    if (tick_) loop_->StopTimer(tick_);
    // The channel closes its device and joins its reader before the loop
    // and the driver go; wake-ups still queued must then do nothing.
    lidar_.reset();
    monitor_.reset();
    if (loop_) RunFor(20);
    services_.reset();
    loop_.reset();
    usb_.reset();
    if (sim_) sim_->Stop();
  }

  const TChannelConfig& Channel(int recordId) const { return *config_->FindChannel(recordId); }

  // The owner's side: the periodic step that opens, re-opens and times out.
  void StartTick(TChannel& channel) {
    tick_ = loop_->StartTimer(100, [this, &channel] { channel.CheckTimeOut(clock_.NowUTC()); });
  }

  // Built as the instrument builds it, then asked to connect at once
  // rather than after the first-open delay.
  void ConnectLidar() {
    lidar_ = std::make_unique<TLidarChannel>(Channel(LidarRecordID));
    clock_.Skip(TChannel::FirstOpenDelayMs);
    StartTick(*lidar_);
    lidar_->SetConnectState(TState::Connected);
  }

  bool WaitConnected(TChannel& channel, int ms = 5000) {
    return RunQtUntil([&] { return channel.GetConnectState() == TState::Connected; }, ms);
  }

  bool WaitIdle(TChannel& channel, int ms = 3000) {
    return RunQtUntil([&] { return channel.GetStatus()->AcqState() == TLidarChannel::AcqIdle; }, ms);
  }

  // Switches the laser on and ends the warm-up by hand, as the group does
  // once its heating time is over.
  void LaserOn() {
    ASSERT_TRUE(lidar_->SwitchLaser(true));
    ASSERT_TRUE(RunQtUntil(
        [&] {
          return lidar_->GetPowerState() == TState::LaserWarmup &&
                 lidar_->GetStatus()->AcqState() == TLidarChannel::AcqIdle;
        },
        3000))
        << lidar_->GetStatus()->Text;
    lidar_->GetStatus()->SetPowerState(TState::LaserOn);
  }

  // Asks shots one after the other, the next one as soon as one arrives.
  std::vector<std::vector<uint8_t>> PollShots(size_t count) {
    std::vector<std::vector<uint8_t>> shots;
    lidar_->OnData = [&](TChannel*, const uint8_t* data, int length, TDateTime) {
      shots.emplace_back(data, data + length);
      if (shots.size() < count) lidar_->AskData();
    };
    EXPECT_TRUE(lidar_->AskData());
    EXPECT_TRUE(RunQtUntil([&] { return shots.size() >= count; }, 5000)) << shots.size() << " shots";
    lidar_->OnData = nullptr;
    return shots;
  }

  OrlaqLidar::Test::TTempDir dir_;
  OrlaqLidar::TSkippableClock clock_;
  std::unique_ptr<TLidarConfig> config_;
  std::unique_ptr<TSimInstrument> sim_;
  std::unique_ptr<TUsbDriver> usb_;
  std::unique_ptr<TQtMainLoop> loop_;
  std::unique_ptr<TScopedServices> services_;
  TMainLoop::TTimerId tick_ = 0;
  std::unique_ptr<TLidarChannel> lidar_;
  std::unique_ptr<TMonitorChannel> monitor_;
};

TEST_F(ChannelIntegrationTest, LidarChannelConnectsSwitchesTheLaserAndPollsWholeShots) {
  ConnectLidar();
  ASSERT_TRUE(WaitConnected(*lidar_)) << lidar_->GetStatus()->Text << " / " << lidar_->LinkStatus().Text;
  const int device = sim_->FindDeviceByRecordID(LidarRecordID);
  EXPECT_EQ(lidar_->Version(), std::string("LS261001 104532P"));
  // A dual-port chip: the port letter is not part of the serial number.
  EXPECT_EQ(lidar_->SerialNumber() + "A", sim_->Entry(device).SerialNumber);
  EXPECT_EQ(lidar_->LinkStatus().ConnectState(), TState::Connected);
  EXPECT_EQ(lidar_->GetStatus()->Error(), 0u);

  LaserOn();
  const TChannelConfig& c = Channel(LidarRecordID);
  EXPECT_TRUE(sim_->LaserOn(c.GroupID));

  const auto shots = PollShots(5);
  ASSERT_EQ(shots.size(), 5u);
  const size_t gateBytes = static_cast<size_t>(c.DoorsCount) * static_cast<size_t>(c.DoorsByte);
  for (const auto& shot : shots) {
    ASSERT_EQ(shot.size(), gateBytes + static_cast<size_t>(c.InfoBytes));
    // The information bytes sit right after the gates: the laser shots of
    // one 100 ms period at 10 kHz in the first four, the detector high
    // voltage next, within its limits. A shifted or truncated payload
    // would not read so.
    const uint64_t pulses = OrlaqLidar::Test::BigEndian(shot.data() + gateBytes, 4);
    EXPECT_GE(pulses, 900u);
    EXPECT_LE(pulses, 10000u);
    const double hv = static_cast<double>(OrlaqLidar::Test::BigEndian(shot.data() + gateBytes + 6, 2)) / 10.0;
    EXPECT_GT(hv, 500.0);
    EXPECT_LT(hv, 1000.0);
    uint64_t counts = 0;
    for (size_t g = 0; g < gateBytes; g += 4) counts += OrlaqLidar::Test::BigEndian(shot.data() + g, 4);
    EXPECT_GT(counts, 0u);
  }
  EXPECT_EQ(lidar_->GetStatus()->Error(), 0u);
  EXPECT_EQ(lidar_->Pending(), 0);

  ASSERT_TRUE(lidar_->SwitchLaser(false));
  ASSERT_TRUE(RunQtUntil([&] { return lidar_->GetPowerState() == TState::LaserOff; }, 3000));
  EXPECT_FALSE(sim_->LaserOn(c.GroupID));

  // Disconnection closes the device: the simulator sees its host go.
  TSimDeviceServer& server = sim_->Server(device);
  lidar_->SetConnectState(TState::Disconnected);
  EXPECT_TRUE(RunQtUntil([&] { return lidar_->GetConnectState() == TState::Disconnected; }, 3000));
  EXPECT_EQ(lidar_->LinkStatus().ConnectState(), TState::Disconnected);
  EXPECT_TRUE(lidar_->SerialNumber().empty());
  EXPECT_TRUE(RunQtUntil([&] { return !server.Connected(); }, 3000));
}

TEST_F(ChannelIntegrationTest, MonitorChannelAnswersThePingAndDeliversAWholeRecord) {
  monitor_ = std::make_unique<TMonitorChannel>(Channel(MonitorRecordID));
  clock_.Skip(TChannel::FirstOpenDelayMs);
  StartTick(*monitor_);
  monitor_->SetConnectState(TState::Connected);
  ASSERT_TRUE(WaitConnected(*monitor_)) << monitor_->GetStatus()->Text << " / " << monitor_->LinkStatus().Text;
  EXPECT_EQ(monitor_->GetPowerState(), TState::LaserOn);

  std::vector<std::vector<double>> records;
  monitor_->OnData = [&](TChannel*, const uint8_t* data, int length, TDateTime) {
    std::vector<double> values(static_cast<size_t>(length) / sizeof(double));
    std::memcpy(values.data(), data, values.size() * sizeof(double));
    EXPECT_EQ(static_cast<size_t>(length), values.size() * sizeof(double));
    records.push_back(std::move(values));
  };
  ASSERT_TRUE(monitor_->AskData());
  ASSERT_TRUE(RunQtUntil([&] { return !records.empty(); }, 3000)) << monitor_->GetStatus()->Text;
  ASSERT_EQ(records[0].size(), Channel(MonitorRecordID).InfoDescriptions.size());
  // Every measure was asked and answered in its own slot: laser head and
  // box temperatures, laser energy, high voltage, humidity.
  const std::vector<std::pair<double, double>> plausible = {{-30, 60}, {-30, 60}, {0, 60}, {300, 1200}, {0, 100}};
  for (size_t i = 0; i < records[0].size(); ++i) {
    EXPECT_TRUE(std::isfinite(records[0][i])) << "measure " << i;
    EXPECT_GE(records[0][i], plausible[i].first) << "measure " << i;
    EXPECT_LE(records[0][i], plausible[i].second) << "measure " << i;
    EXPECT_EQ(records[0][i], monitor_->Value(static_cast<int>(i)));
  }
  EXPECT_EQ(monitor_->GetStatus()->Error(), 0u);

  // A second cycle starts from the first measure again.
  ASSERT_TRUE(WaitIdle(*monitor_));
  ASSERT_TRUE(monitor_->AskData());
  ASSERT_TRUE(RunQtUntil([&] { return records.size() >= 2; }, 3000));
  EXPECT_EQ(records[1].size(), records[0].size());
}

TEST_F(ChannelIntegrationTest, UnpluggedDeviceDropsToConnectingAndComesBackAfterTheReplug) {
  ConnectLidar();
  ASSERT_TRUE(WaitConnected(*lidar_));
  LaserOn();

  std::vector<uint8_t> states;
  uint32_t linkErrorAtDrop = 0;
  uint8_t linkStateAtDrop = 0;
  lidar_->GetStatus()->OnChange = [&](TStatus* s, TState::ChangeRaison reason) {
    if (!(reason & TState::Connect)) return;
    if (states.empty() || states.back() != s->ConnectState()) states.push_back(s->ConnectState());
    if (s->ConnectState() == TState::Connecting && linkStateAtDrop == 0) {
      linkErrorAtDrop = lidar_->LinkStatus().Error();
      linkStateAtDrop = lidar_->LinkStatus().ConnectState();
    }
  };

  const int device = sim_->FindDeviceByRecordID(LidarRecordID);
  TSimDeviceServer& server = sim_->Server(device);
  server.Unplug();
  // The reader notices the lost device within two of its 200 ms waits.
  ASSERT_TRUE(RunQtUntil([&] { return lidar_->GetConnectState() == TState::Connecting; }, 3000));
  // The device went away under a working link: a queue status failure
  // (I/O error), with the link waiting to be closed.
  EXPECT_EQ(linkErrorAtDrop, QueueStatusIoError);
  constexpr uint8_t WaitingForDisconnection = 1;
  EXPECT_EQ(linkStateAtDrop, WaitingForDisconnection);
  // Open attempts go on, once a second, and fail while it is out.
  RunFor(1500);
  EXPECT_EQ(lidar_->GetConnectState(), TState::Connecting);
  EXPECT_EQ(lidar_->LinkStatus().ConnectState(), TState::Connecting);
  EXPECT_EQ(server.Connections(), 1u);

  server.Replug();
  ASSERT_TRUE(WaitConnected(*lidar_, 5000)) << lidar_->GetStatus()->Text << " / " << lidar_->LinkStatus().Text;
  EXPECT_EQ(server.Connections(), 2u);
  EXPECT_EQ(lidar_->LinkStatus().ConnectState(), TState::Connected);
  EXPECT_EQ(lidar_->LinkStatus().Error(), 0u);
  // Back through a new version query.
  EXPECT_EQ(lidar_->Version(), std::string("LS261001 104532P"));
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states.front(), TState::Connecting);
  EXPECT_EQ(states.back(), TState::Connected);
  for (uint8_t s : states) EXPECT_GE(s, TState::Connecting) << "the channel was never given up";

  // The link carries shots again.
  const auto shots = PollShots(2);
  ASSERT_EQ(shots.size(), 2u);
  const TChannelConfig& c = Channel(LidarRecordID);
  EXPECT_EQ(shots[1].size(), static_cast<size_t>(c.DoorsCount * c.DoorsByte + c.InfoBytes));
  lidar_->GetStatus()->OnChange = nullptr;
}

}  // namespace
