// The data manager on a test source: profile boundaries, completion and
// reset on status changes, record attachment, guarded callbacks, and one
// whole "OSBAR2" chain against the formulas.
#include "kernel/processing/DataManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"
#include "tests/kernel/processing/ProcessingFixture.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::At;
using OrlaqLidar::Test::TProcessingFixture;

namespace {

using OrlaqLidar::Test::TTestSource;

// What a profile consumer saw of one profile.
struct TSeen {
  int Channel;
  bool Open;
  TDateTime Start;
  int ShotRecords;
  TDateTime AirinsTime;
  std::vector<double> Signal;
};

class DataManagerTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  explicit DataManagerTest(int processings = 2, int profileTime = 60)
      : fx(8, true, processings, profileTime), manager(std::make_unique<TDataManager>(fx.args.get(), &source)) {
    manager->FOnManagedDatas = [this](const TProfile& p) {
      seen.push_back({p->ChannelID, p->Open, p->StartTime, p->ShotRecords, p->AirinsTime, p->Signal});
    };
  }

  void Shot(int channel, TDateTime t, unsigned count = 10, unsigned laserShots = 1000) {
    const auto b = fx.Shot(std::vector<unsigned>(8, count), laserShots);
    source.DispatchRecord(channel, b.data(), static_cast<int>(b.size()), t);
  }
  std::vector<TSeen> Completed() const {
    std::vector<TSeen> done;
    for (const auto& s : seen)
      if (!s.Open) done.push_back(s);
    return done;
  }

  TProcessingFixture fx;
  TTestSource source;
  std::unique_ptr<TDataManager> manager;
  std::vector<TSeen> seen;
};

class ZeroProfileTimeTest : public DataManagerTest {
 protected:
  ZeroProfileTimeTest() : DataManagerTest(2, 0) {}
};

class FullChainTest : public DataManagerTest {
 protected:
  FullChainTest() : DataManagerTest(TProcessingSetup::FromCode("OSBAR2")) {}
};

}  // namespace

TEST(DataManagerBoundaryTest, NewProfileDue) {
  struct TCase {
    TDateTime start, t;
    int profileTime;
    bool aligned, due;
  } cases[] = {
      {At(10, 0, 10), At(10, 0, 59.9), 60, true, false},
      {At(10, 0, 59.9), At(10, 1, 0.1), 60, true, true},
      {At(10, 0, 0), At(10, 1, 0), 60, true, true},
      {At(10, 0, 30), At(10, 1, 29), 60, false, false},
      {At(10, 0, 30), At(10, 1, 30), 60, false, true},
      {At(10, 0, 30), At(10, 0, 30), 0, true, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TDataManager::NewProfileDue(c.start, c.t, c.profileTime, c.aligned), c.due)
        << FormatDateTime(c.start) << " -> " << FormatDateTime(c.t) << " aligned " << c.aligned;
}

TEST_F(DataManagerTest, AlignedProfilesEndOnTheMinute) {
  Shot(1, At(10, 0, 10));
  Shot(1, At(10, 0, 59.9));
  EXPECT_TRUE(Completed().empty());
  Shot(1, At(10, 1, 0.1));
  ASSERT_EQ(Completed().size(), 1u);
  EXPECT_EQ(Completed()[0].ShotRecords, 2);
  EXPECT_EQ(Completed()[0].Start, At(10, 0, 10));
  EXPECT_EQ(manager->Profile(1)->StartTime, At(10, 1, 0.1));
  EXPECT_EQ(manager->Profile(1)->ShotRecords, 1);
  // The other channel's profile is untouched.
  EXPECT_EQ(manager->Profile(2)->StartTime, 0);
}

TEST_F(DataManagerTest, UnalignedProfilesRunFromTheirFirstShot) {
  manager->Aligned = false;
  Shot(1, At(10, 0, 30));
  Shot(1, At(10, 1, 29));
  EXPECT_TRUE(Completed().empty());
  Shot(1, At(10, 1, 30));
  EXPECT_EQ(Completed().size(), 1u);
}

TEST_F(ZeroProfileTimeTest, EveryShotIsAProfile) {
  Shot(1, At(10, 0, 0));
  Shot(1, At(10, 0, 0.1));
  Shot(1, At(10, 0, 0.2));
  EXPECT_EQ(Completed().size(), 2u);
  for (const auto& s : Completed()) EXPECT_EQ(s.ShotRecords, 1);
}

TEST_F(DataManagerTest, AShotOfTheWrongLengthNeitherStartsNorCompletes) {
  const std::vector<uint8_t> bad(17, 1);
  source.DispatchRecord(1, bad.data(), 17, At(10, 0, 0));
  EXPECT_EQ(manager->Profile(1)->StartTime, 0);
  Shot(1, At(10, 0, 10));
  source.DispatchRecord(1, bad.data(), 17, At(10, 1, 10));
  EXPECT_TRUE(Completed().empty());
  EXPECT_EQ(manager->Profile(1)->ShotRecords, 1);
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.back().find("Lidar Data have not the expected length (17/18)"), std::string::npos);
}

TEST_F(DataManagerTest, DisconnectionAndLaserOffCompleteOnlyProfilesWithShots) {
  for (auto change : {+[](TStatus& s) { s.SetConnectState(TState::Disconnected); },
                      +[](TStatus& s) { s.SetPowerState(TState::WaitingPowerOff); }}) {
    source.Status.SetConnectState(TState::Connected);
    source.Status.SetPowerState(TState::LaserOn);
    seen.clear();
    Shot(1, At(10, 0, 10));
    change(source.Status);
    ASSERT_EQ(Completed().size(), 1u);
    EXPECT_EQ(Completed()[0].Channel, 1);
    EXPECT_EQ(manager->Profile(1)->ShotRecords, 0);
  }
}

TEST_F(DataManagerTest, LaserOnOrReconnectionDiscardsEverything) {
  const std::vector<uint8_t> ins(35, 0), monitor(8, 0);
  for (auto change : {+[](TStatus& s) { s.SetPowerState(TState::LaserOn); },
                      +[](TStatus& s) { s.SetConnectState(TState::Connected); }}) {
    source.Status.SetConnectState(TState::Connecting);
    source.Status.SetPowerState(TState::LaserWarmup);
    seen.clear();
    source.DispatchRecord(9, ins.data(), 35, At(10, 0, 9));
    source.DispatchRecord(3, monitor.data(), 8, At(10, 0, 9));
    Shot(1, At(10, 0, 10));
    ASSERT_NE(manager->MonitorBuffer(3), nullptr);
    change(source.Status);
    EXPECT_TRUE(Completed().empty());
    EXPECT_EQ(manager->Profile(1)->ShotRecords, 0);
    EXPECT_EQ(manager->Profile(1)->AirinsTime, 0);
    EXPECT_EQ(manager->AirinsTime(), 0);
    EXPECT_EQ(manager->MonitorBuffer(3), nullptr);
  }
}

TEST_F(DataManagerTest, InsAndMonitoringRecordsWithinFourSecondsAreAttached) {
  const std::vector<uint8_t> ins(35, 0), monitor(8, 0);
  source.DispatchRecord(9, ins.data(), 35, At(10, 0, 5));
  source.DispatchRecord(3, monitor.data(), 8, At(10, 0, 5));
  manager->Profile(1)->Reset(false);  // as if they had arrived before the profiles were emptied
  Shot(1, At(10, 0, 10));
  EXPECT_EQ(manager->Profile(1)->AirinsTime, 0);
  EXPECT_EQ(manager->Profile(1)->MonitorRecords.at(3)->Time, At(10, 0, 5));  // kept, only zeroed by Reset

  manager->Flush();
  source.DispatchRecord(9, ins.data(), 35, At(10, 1, 6));
  source.DispatchRecord(3, monitor.data(), 8, At(10, 1, 6));
  manager->Profile(1)->Reset(false);
  manager->Profile(1)->MonitorRecords.clear();
  Shot(1, At(10, 1, 10));
  EXPECT_EQ(manager->Profile(1)->AirinsTime, At(10, 1, 6));
  EXPECT_EQ(manager->Profile(1)->AirinsLength, 35);
  ASSERT_EQ(manager->Profile(1)->MonitorRecords.count(3), 1u);
  EXPECT_EQ(manager->Profile(1)->MonitorRecords.at(3)->Time, At(10, 1, 6));
}

TEST_F(DataManagerTest, AThrowingConsumerIsLoggedAndTheOtherManagersServed) {
  TDataManager other(fx.args.get(), &source);
  int otherCompleted = 0;
  other.FOnManagedDatas = [&](const TProfile& p) { otherCompleted += p->Open ? 0 : 1; };
  manager->FOnManagedDatas = [](const TProfile& p) {
    if (!p->Open) throw std::runtime_error("boom");
  };
  Shot(1, At(10, 0, 10));
  Shot(1, At(10, 1, 10));
  EXPECT_EQ(otherCompleted, 1);
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.back().find("DataManager["), std::string::npos);
  EXPECT_NE(LogLines.back().find("] : Error on FOnManagedDatas(1):boom"), std::string::npos);
  // The profile was still reset and started again.
  EXPECT_EQ(manager->Profile(1)->ShotRecords, 1);

  manager->FOnEvent = [](int, const std::string&, TDateTime, const std::string&) {
    throw std::runtime_error("no");
  };
  source.SendEvent(0, At(10, 1, 11), "USN", "note");
  EXPECT_NE(LogLines.back().find("] : Error in OnGotEvent(0:USN) : no"), std::string::npos);
}

TEST_F(DataManagerTest, AFailingProcessingIsLoggedWithItsName) {
  struct TThrowing : TProcessing {
    TThrowing() : TProcessing(nullptr, "Thrower") {}
    bool Process(TManagedProfile*) override { throw std::runtime_error("bad gate"); }
  } thrower;
  EXPECT_FALSE(manager->ComputeData(*manager->Profile(1), thrower));
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.back().find("] : Error in ComputeData(bad gate) for processing Thrower"), std::string::npos);
}

TEST_F(DataManagerTest, RegisteredAheadOfTheApplicationAndGoneWhenDestroyed) {
  source.Status.SetConnectState(TState::Connected);
  Shot(1, At(10, 0, 10));
  size_t completedWhenAppHeard = 99;
  int app = 0;
  source.AddStatusConsumer(&app, [&](TStatus*, auto) { completedWhenAppHeard = Completed().size(); }, 100);
  source.Status.SetConnectState(TState::Disconnected);
  EXPECT_EQ(completedWhenAppHeard, 1u);
  source.RemoveStatusConsumer(&app);

  manager.reset();
  EXPECT_EQ(source.DataConsumerCount(), 0u);
  source.Status.SetConnectState(TState::Connected);  // nobody left to call
}

TEST_F(DataManagerTest, DifferentArgumentsCompleteTheProfiles) {
  Shot(1, At(10, 0, 10));
  manager->CheckArguments(fx.args.get());
  EXPECT_TRUE(Completed().empty());
  TProcessingArgs changed(TProcessingSetup(63, 60), &fx.definition, &fx.setup);
  manager->CheckArguments(&changed);
  EXPECT_EQ(Completed().size(), 1u);
  EXPECT_EQ(manager->Arguments(), fx.args.get());
}

TEST_F(FullChainTest, TwoShotsThroughEveryCorrection) {
  TCalibration& c = fx.Calibration(1);
  c.ApdState = TCalibration::StateAttempted;
  c.BackgroundStart = 0.5;
  c.BackgroundEnd = 1.0;
  c.AfterPulseState = c.OverlapState = TCalibration::StatePresent;
  c.AfterPulse = {50, 40, 30, 20, 10, 5, 2, 1};
  c.OverlapInverse = {4, 3, 2, 1.5, 1.2, 1, 1, 1};
  const std::vector<unsigned> a = {900, 700, 500, 300, 120, 110, 100, 90};
  const std::vector<unsigned> b = {2400, 2000, 1600, 950, 330, 320, 300, 310};
  const unsigned shotsA = 1000, shotsB = 3000;

  // Count rate of one record: r = n / (shots x 100 ns), d = 1 - 2.5e-8 r,
  // (r / d - 300) / 0.55.
  auto rate = [](double n, double shots) {
    const double r = n / (shots * 100e-9);
    return (r / (1 - 2.5e-8 * r) - 300.0) / 0.55;
  };
  std::vector<double> mean(8);
  for (size_t i = 0; i < 8; ++i) mean[i] = (rate(a[i], shotsA) * shotsA + rate(b[i], shotsB) * shotsB) / 4000.0;
  // Background over gates 4 to 7 (the end clamped to the last gate), divided by 8 - 4.
  const double background = (mean[4] + mean[5] + mean[6] + mean[7]) / 4.0;

  auto send = [&](const std::vector<unsigned>& counts, unsigned shots, TDateTime t) {
    const auto bytes = fx.Shot(counts, shots);
    source.DispatchRecord(1, bytes.data(), static_cast<int>(bytes.size()), t);
  };
  // A manager that corrects at completion only ends with the same profile.
  TDataManager completedOnly(fx.args.get(), &source);
  completedOnly.CompletedOnly = true;
  std::vector<TSeen> atCompletion;
  completedOnly.FOnManagedDatas = [&](const TProfile& p) {
    atCompletion.push_back({p->ChannelID, p->Open, p->StartTime, p->ShotRecords, p->AirinsTime, p->Signal});
  };
  send(a, shotsA, At(10, 0, 1));
  send(b, shotsB, At(10, 0, 2));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen.back().Open);
  EXPECT_TRUE(atCompletion.empty());
  completedOnly.Flush();
  ASSERT_EQ(atCompletion.size(), 1u);
  EXPECT_FALSE(atCompletion[0].Open);
  EXPECT_EQ(atCompletion[0].Signal, seen.back().Signal);
  const TManagedProfile& p = *manager->Profile(1);
  EXPECT_NEAR(p.Background, background, 1e-9 * background);
  for (size_t i = 0; i < 8; ++i) {
    const double range = 14.9896229 * static_cast<double>(i + 1);
    const double expected = (mean[i] - background - c.AfterPulse[i]) * c.OverlapInverse[i] * range * range;
    EXPECT_NEAR(seen.back().Signal[i], expected, 1e-9 * std::abs(expected) + 1e-6) << "gate " << i;
  }
  EXPECT_EQ(p.LaserShots, 4000);
}

TEST_F(FullChainTest, CalibrationsRebuiltAfterTheLastShotAreTheOnesTheCompletionUses) {
  manager->CompletedOnly = true;  // as the export's: corrected at completion
  source.Status.SetConnectState(TState::Connected);
  source.Status.SetPowerState(TState::LaserOn);
  Shot(1, At(10, 0, 10));
  // A calibration archive installed: every calibration object replaced.
  fx.setup.Calibrations.clear();
  for (const auto& c : fx.definition.Channels)
    fx.setup.Calibrations.push_back(
        std::make_unique<TCalibration>(c->RecordID, c->Type(), static_cast<unsigned>(c->DoorsCount)));
  source.Status.SetPowerState(TState::WaitingPowerOff);
  ASSERT_EQ(Completed().size(), 1u);
  for (const auto& line : LogLines) EXPECT_EQ(line.find("TCalibration"), std::string::npos) << line;
}
