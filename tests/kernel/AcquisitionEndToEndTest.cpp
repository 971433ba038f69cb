// The live acquisition source against the whole simulated instrument, in
// real time: virtual USB devices over local sockets with their reader
// threads, the simulated INS stream over TCP, Qt's event loop on the test
// thread and the source's 100 ms step on a real timer. The instrument is
// the shipped definition with the warm-up shortened so that shots come at
// once.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Config/ApplicationConfig.h"
#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/QtSocketFactory.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "Simulator/SimInsServer.h"
#include "Simulator/SimInstrument.h"
#include "kernel/comm/Channel.h"
#include "kernel/ErrorLogger.h"
#include "kernel/comm/Lidar.h"
#include "kernel/LidarAcquisition.h"
#include "tests/TestSupport.h"
#include "tests/kernel/LiveLoop.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::RunFor;

namespace {

constexpr int InsRecordLength = 35;

class AcquisitionEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrlaqLidar::EnsureQtApplication();
    TErrorLogger::Instance().Reset();
    TErrorLogger::Instance().SetSink([this](const std::string& line) { log_.push_back(line); });

    TIniFile definition(OrlaqLidar::Test::ShippedDefinitionPath().string());
    ASSERT_TRUE(config_.LidarConfig.Load(definition));
    ASSERT_TRUE(config_.LidarConfig.Airins) << "the shipped instrument carries an INS";
    for (auto& [id, group] : config_.LidarConfig.Groups) group->HeatingTime = 0;
    config_.ConfigFolder = dir_.Path().string();
    config_.AutoPower = true;

    sim_ = std::make_unique<TSimInstrument>(config_.LidarConfig);
    ASSERT_TRUE(sim_->Start(dir_ / "devices")) << sim_->LastError();
    TSimInsServer::TSettings ins;
    ins.Port = 0;
    ins.BadChecksumEvery = 0;
    ins_ = std::make_unique<TSimInsServer>(ins);
    ASSERT_TRUE(ins_->Start()) << ins_->LastError();
    config_.Setup.AirinsAddr = "127.0.0.1";
    config_.Setup.AirinsPort = std::to_string(ins_->Port());

    std::string error;
    usb_ = CreateUsbDriver("virtual:" + sim_->DevicesFile().string(), error);
    ASSERT_TRUE(usb_) << error;
    loop_ = std::make_unique<TQtMainLoop>();
    services_ = std::make_unique<TScopedServices>(TServices{&clock_, loop_.get(), nullptr, usb_.get(), &sockets_});

    source_ = std::make_unique<TLidarAcquisition>(&config_, true);
    source_->AddDataConsumer(this, [this](int id, const uint8_t* data, int length, TDateTime time) {
      Received(id, data, length, time);
    });
    ASSERT_TRUE(source_->Open());
    // The channels' first open waits 3 s after they are built; not here.
    clock_.Skip(TChannel::FirstOpenDelayMs);
    ASSERT_TRUE(source_->Start());
    timer_ = loop_->StartTimer(100, [this] { source_->OnTimer(clock_.NowUTC()); });
  }

  void TearDown() override {
    if (source_) {
      source_->SetPower(false);
      RunQtUntil([&] { return source_->Status.PowerState() == TState::LaserOff; }, 2000);
      loop_->StopTimer(timer_);
      source_->RemoveDataConsumer(this);
      source_->Stop();
      source_->Close();
      source_.reset();
    }
    if (loop_) RunFor(20);
    services_.reset();
    loop_.reset();
    usb_.reset();
    if (ins_) ins_->Stop();
    if (sim_) sim_->Stop();
    TErrorLogger::Instance().SetSink(nullptr);
    TErrorLogger::Instance().Reset();
  }

  void Received(int id, const uint8_t* data, int length, TDateTime time) {
    ++count_[id];
    lengths_[id].insert(length);
    const double ageSeconds = std::abs(clock_.NowUTC() - time) * SecondsPerDay;
    if (ageSeconds > 5) ++staleTimes_;
    if (data == nullptr) ++nullData_;
  }

  std::vector<int> Ids(TChannelType type) const {
    std::vector<int> ids;
    for (const auto& c : config_.LidarConfig.Channels)
      if (c->Type() == type) ids.push_back(c->RecordID);
    return ids;
  }
  std::vector<int> LidarIds() const { return Ids(TChannelType::Lidar); }
  std::vector<int> MonitorIds() const { return Ids(TChannelType::Monitor); }

  int InsId() const { return config_.LidarConfig.AirinsConfig.RecordID; }

  // Every lidar channel has at least `shots` more shots than in `before`.
  bool ShotsSince(const std::map<int, int>& before, int shots) {
    for (int id : LidarIds()) {
      const auto it = before.find(id);
      if (count_[id] - (it == before.end() ? 0 : it->second) < shots) return false;
    }
    return true;
  }

  std::string Counts() {
    std::string s;
    for (const auto& [id, n] : count_) s += " " + std::to_string(id) + ":" + std::to_string(n);
    return s + " | source " + source_->Status.Text + " | lidar " + source_->Lidar()->Status.Text;
  }

  std::string Log() const {
    std::string s;
    for (const auto& l : log_) s += "\n  " + l;
    return s;
  }

  // The instrument connected, the laser switched on by itself, and shots
  // of every lidar channel, monitoring records and INS records flowing.
  void RunUntilEverythingFlows() {
    std::map<int, int> none;
    ASSERT_TRUE(RunQtUntil(
        [&] {
          if (!ShotsSince(none, 3)) return false;
          for (int id : MonitorIds())
            if (count_[id] < 1) return false;
          return count_[InsId()] >= 3;
        },
        8000))
        << Counts() << Log();
    EXPECT_EQ(source_->Status.ConnectState(), TState::Connected);
    EXPECT_EQ(source_->Status.PowerState(), TState::LaserOn);
  }

  OrlaqLidar::Test::TTempDir dir_;
  OrlaqLidar::TSkippableClock clock_;
  TApplicationConfig config_;
  std::unique_ptr<TSimInstrument> sim_;
  std::unique_ptr<TSimInsServer> ins_;
  std::unique_ptr<TUsbDriver> usb_;
  TQtSocketFactory sockets_;
  std::unique_ptr<TQtMainLoop> loop_;
  std::unique_ptr<TScopedServices> services_;
  std::unique_ptr<TLidarAcquisition> source_;
  TMainLoop::TTimerId timer_ = 0;

  std::map<int, int> count_;
  std::map<int, std::set<int>> lengths_;
  int staleTimes_ = 0;
  int nullData_ = 0;
  std::vector<std::string> log_;
};

TEST_F(AcquisitionEndToEndTest, ShotsMeasuresAndInsRecordsReachTheConsumerWithTheirIdentifiers) {
  RunUntilEverythingFlows();
  if (HasFatalFailure()) return;

  // Only the identifiers of the definition, each with its record size.
  std::set<int> expected;
  for (const auto& c : config_.LidarConfig.Channels) {
    expected.insert(c->RecordID);
    if (c->Type() == TChannelType::Lidar)
      EXPECT_EQ(lengths_[c->RecordID], (std::set<int>{c->DoorsCount * c->DoorsByte + c->InfoBytes}))
          << "channel " << c->RecordID;
    else
      EXPECT_EQ(lengths_[c->RecordID], (std::set<int>{static_cast<int>(c->InfoDescriptions.size() * sizeof(double))}))
          << "channel " << c->RecordID;
  }
  expected.insert(InsId());
  EXPECT_EQ(lengths_[InsId()], (std::set<int>{InsRecordLength}));
  for (const auto& [id, n] : count_) EXPECT_TRUE(expected.count(id)) << "unexpected record id " << id;
  EXPECT_EQ(staleTimes_, 0);
  EXPECT_EQ(nullData_, 0);

  EXPECT_FALSE(source_->GetSerialNumber().empty());
  EXPECT_EQ(config_.Setup.SerialNumber, source_->GetSerialNumber());
  EXPECT_EQ(source_->Lidar()->Status.Error(), 0u) << source_->Lidar()->Status.Text << Log();

  // Laser off by hand: the shots stop, the source stays connected.
  source_->SetPower(false);
  ASSERT_TRUE(RunQtUntil([&] { return source_->Status.PowerState() == TState::LaserOff; }, 3000)) << Counts();
  for (const auto& g : config_.LidarConfig.Groups) EXPECT_FALSE(sim_->LaserOn(g.first)) << "group " << g.first;
  RunFor(300);  // answers to queries already sent may still come in
  const std::map<int, int> afterOff = count_;
  RunFor(500);
  for (int id : LidarIds()) EXPECT_EQ(count_[id], afterOff.at(id)) << "shots of " << id << " after laser off";
  EXPECT_EQ(source_->Status.ConnectState(), TState::Connected);
}

// A device pulled out and plugged in again while shots flow: the source
// goes on by itself, the laser comes back on and shots of every channel
// flow again.
class AcquisitionReplugTest : public AcquisitionEndToEndTest, public ::testing::WithParamInterface<int> {};

TEST_P(AcquisitionReplugTest, UnpluggedDeviceIsReconnectedAndShotsResume) {
  RunUntilEverythingFlows();
  if (HasFatalFailure()) return;

  const int recordId = GetParam();
  const int device = sim_->FindDeviceByRecordID(recordId);
  ASSERT_GE(device, 0);
  TSimDeviceServer& server = sim_->Server(device);
  server.Unplug();
  ASSERT_TRUE(RunQtUntil([&] { return source_->Lidar()->Status.ConnectState() != TState::Connected; }, 3000))
      << Counts();
  RunFor(800);
  EXPECT_EQ(server.Connections(), 1u);
  const std::map<int, int> atReplug = count_;
  server.Replug();

  ASSERT_TRUE(RunQtUntil([&] { return ShotsSince(atReplug, 3); }, 6000))
      << "shots did not resume:" << Counts() << Log();
  EXPECT_EQ(server.Connections(), 2u);
  EXPECT_EQ(source_->Lidar()->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source_->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(source_->Status.PowerState(), TState::LaserOn);
  // Measures go on too.
  for (int id : MonitorIds()) {
    const int seen = count_[id];
    EXPECT_TRUE(RunQtUntil([&] { return count_[id] > seen; }, 3000)) << "monitoring " << id << Counts();
  }
  EXPECT_EQ(staleTimes_, 0);
}

INSTANTIATE_TEST_SUITE_P(AcquisitionEndToEnd, AcquisitionReplugTest,
                         // 1: the board that switches the 532 nm laser; 2: its
                         // partner without laser commands; 10: the housekeeping board.
                         ::testing::Values(1, 2, 10), [](const ::testing::TestParamInfo<int>& info) {
                           return "Record" + std::to_string(info.param);
                         });

}  // namespace
