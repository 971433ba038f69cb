// The processings one by one on a small profile, against the arithmetic
// written out in each test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "kernel/processing/AdjustSensor.h"
#include "kernel/processing/AfterPulse.h"
#include "kernel/processing/BrightnessSky.h"
#include "kernel/processing/DataPR2.h"
#include "kernel/processing/DistanceCompute.h"
#include "kernel/processing/Overlap.h"
#include "kernel/processing/SpacialSampling.h"
#include "kernel/processing/TemporalSampling.h"
#include "tests/kernel/processing/ProcessingFixture.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TProcessingFixture;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Deg = std::numbers::pi / 180.0;

class ProcessingsTest : public ::testing::Test {
 protected:
  explicit ProcessingsTest(int gates = 8) : fx(gates) {
    profile = std::make_unique<TManagedProfile>(1, fx.definition.Channels[0].get(), &fx.Calibration(1), 60,
                                                fx.args.get());
  }
  TCalibration& Cal() { return fx.Calibration(1); }
  // Loads one shot record and accumulates it, as the chain does without "S".
  void Accumulate(const std::vector<unsigned>& counts, unsigned laserShots) {
    const auto bytes = fx.Shot(counts, laserShots);
    TLidarData shot(fx.definition.Channels[0].get(), bytes.data(), bytes.size());
    TSpacialSampling spacial(fx.args.get(), &shot);
    ASSERT_TRUE(spacial.Process(profile.get()));
    TTemporalSampling temporal(fx.args.get());
    ASSERT_TRUE(temporal.Process(profile.get()));
  }

  TProcessingFixture fx;
  std::unique_ptr<TManagedProfile> profile;
};

std::vector<uint8_t> InsRecord(int altitudeCm, int16_t rollRaw, int16_t pitchRaw) {
  std::vector<uint8_t> r(35, 0);
  const auto a = static_cast<uint32_t>(altitudeCm);
  r[13] = static_cast<uint8_t>(a >> 24);
  r[14] = static_cast<uint8_t>(a >> 16);
  r[15] = static_cast<uint8_t>(a >> 8);
  r[16] = static_cast<uint8_t>(a);
  r[23] = static_cast<uint8_t>(static_cast<uint16_t>(rollRaw) >> 8);
  r[24] = static_cast<uint8_t>(rollRaw);
  r[25] = static_cast<uint8_t>(static_cast<uint16_t>(pitchRaw) >> 8);
  r[26] = static_cast<uint8_t>(pitchRaw);
  return r;
}

}  // namespace

TEST(ProcessingSetupTest, LetterCodesBothWays) {
  const std::pair<int, const char*> toCode[] = {{55, "OSBR2"}, {63, "OSBAR2"}, {2, "R"}, {10, "RA"}, {3, "S"}};
  for (const auto& [flags, code] : toCode) EXPECT_EQ(TProcessingSetup::ToCode(flags), code) << flags;
  const std::pair<const char*, int> fromCode[] = {{"OSBR2", 55}, {"osbr2", 55}, {"OSBAR2", 63}, {"R", 2}, {"", 2}};
  for (const auto& [code, flags] : fromCode) EXPECT_EQ(TProcessingSetup::FromCode(code), flags) << code;
}

TEST(ProcessingSetupTest, ArgumentsDifferByPointersFlagsOrTime) {
  TLidarConfig d1, d2;
  TLidarSetup s1;
  const TProcessingArgs a(TProcessingSetup(55, 60), &d1, &s1);
  EXPECT_TRUE(a.Equals(TProcessingArgs(a)));
  EXPECT_FALSE(a.Equals(TProcessingArgs(TProcessingSetup(63, 60), &d1, &s1)));
  EXPECT_FALSE(a.Equals(TProcessingArgs(TProcessingSetup(55, 30), &d1, &s1)));
  EXPECT_FALSE(a.Equals(TProcessingArgs(TProcessingSetup(55, 60), &d2, &s1)));
}

TEST_F(ProcessingsTest, GateLengthAndAltitudeFollowTheTilt) {
  struct TCase {
    double roll, pitch, theta;  // degrees
  } cases[] = {{0, 0, 0}, {0, 30, 30}, {0, 120, 120}, {30, 0, 30},
               // Both axes at 80 degrees: the sum of squares exceeds 1; the beam is horizontal.
               {80, 80, 90}};
  fx.setup.AltitudeBase = 100;
  for (const auto& c : cases) {
    fx.setup.RollBase = c.roll;
    fx.setup.PitchBase = c.pitch;
    TDistanceCompute p(fx.args.get());
    ASSERT_TRUE(p.Process(profile.get()));
    EXPECT_NEAR(p.Zenith, c.theta * Deg, 1e-12) << c.roll << "/" << c.pitch;
    EXPECT_DOUBLE_EQ(profile->Distance[0], 14.9896229);
    EXPECT_DOUBLE_EQ(profile->Distance[7], 8 * 14.9896229);
    for (size_t i = 0; i < profile->Altitude.size(); ++i)
      EXPECT_NEAR(profile->Altitude[i], profile->Distance[i] * std::cos(c.theta * Deg) + 100, 1e-9);
    // 120 degrees points below the horizon: altitudes fall with distance.
    if (c.theta > 90) {
      EXPECT_LT(profile->Altitude[7], profile->Altitude[0]);
    }
  }
}

TEST_F(ProcessingsTest, AnAttachedInsRecordTiltsTheProfileAndGivesTheAltitude) {
  fx.setup.PitchBase = 3;
  fx.setup.AltitudeBase = 100;
  const auto ins = InsRecord(123456, 0, 364);  // pitch about 2 degrees
  std::copy(ins.begin(), ins.end(), profile->AirinsRecord.begin());
  profile->AirinsLength = 35;
  profile->AirinsTime = OrlaqLidar::Test::At(10, 0, 0);
  const double pitch = 3 + TAirinsData(ins.data(), ins.size()).Pitch();
  TDistanceCompute p(fx.args.get());
  ASSERT_TRUE(p.Process(profile.get()));
  EXPECT_NEAR(p.Zenith, pitch * Deg, 1e-12);
  EXPECT_NEAR(pitch, 5, 0.001);
  EXPECT_NEAR(profile->Altitude[0], 14.9896229 * std::cos(pitch * Deg) + 1234.56, 1e-9);
}

TEST_F(ProcessingsTest, ShotsAreWeightedByTheirLaserShots) {
  // Without a counter field the channel's LaserPulse counts.
  TProcessingFixture plain(8, false);
  const auto bytes = plain.Shot({10, 0, 0, 0, 0, 0, 0, 0});
  TLidarData shot(plain.definition.Channels[0].get(), bytes.data(), bytes.size());
  TSpacialSampling p(plain.args.get(), &shot);
  ASSERT_TRUE(p.Process(profile.get()));
  EXPECT_EQ(profile->RecordShots, 4096);

  // The "SHOOT" field reads 1000, then 3000: (10 x 1000 + 20 x 3000) / 4000.
  profile->Reset(false);
  Accumulate({10, 1, 0, 0, 0, 0, 0, 0}, 1000);
  EXPECT_EQ(profile->RecordShots, 1000);
  Accumulate({20, 1, 0, 0, 0, 0, 0, 0}, 3000);
  EXPECT_DOUBLE_EQ(profile->Signal[0], 17.5);
  EXPECT_DOUBLE_EQ(profile->Accumulator[0], 70000);

  // A record of no laser shots loads zeros and leaves the sums alone.
  Accumulate({500, 500, 500, 500, 500, 500, 500, 500}, 0);
  EXPECT_EQ(profile->ShotRecords, 3);
  EXPECT_EQ(profile->LaserShots, 4000);
  EXPECT_DOUBLE_EQ(profile->Signal[0], 17.5);
  EXPECT_DOUBLE_EQ(profile->Signal[1], 1);
}

TEST_F(ProcessingsTest, ANaNGateKeepsTheAccumulatorFree) {
  profile->RecordShots = 1000;
  std::fill(profile->Signal.begin(), profile->Signal.end(), 5.0);
  profile->Signal[2] = NaN;
  TTemporalSampling p(fx.args.get());
  ASSERT_TRUE(p.Process(profile.get()));
  EXPECT_EQ(profile->Accumulator[2], 0);
  EXPECT_EQ(profile->Signal[2], 0);
  EXPECT_EQ(profile->Signal[3], 5);
}

TEST_F(ProcessingsTest, CountRateWithDeadTime) {
  Cal().ApdState = TCalibration::StateAttempted;
  profile->RecordShots = 1000;  // t = 1000 x 100 ns = 1e-4 s
  profile->Signal = {100, 4000, 0, NaN, 10000, 1, 2, 3};
  TAdjustSensor p(fx.args.get());
  ASSERT_TRUE(p.Process(profile.get()));
  EXPECT_DOUBLE_EQ(p.IntegrationTime, 1e-4);
  // r = 1e6 /s, d = 1 - 2.5e-8 x 1e6 = 0.975.
  EXPECT_NEAR(profile->Signal[0], (1e6 / 0.975 - 300.0) / 0.55, 1e-6);
  EXPECT_TRUE(std::isnan(profile->Signal[1]));  // DeadTime x r = 1
  EXPECT_EQ(profile->Signal[2], 0);             // below the offset
  EXPECT_TRUE(std::isnan(profile->Signal[3]));
  EXPECT_TRUE(std::isnan(profile->Signal[4]));  // DeadTime x r > 1

  // The detector flag, no calibration attempt or no shots leave the counts.
  for (auto change : {+[](TCalibration& c, TManagedProfile&) { c.ApdFlag = 1; },
                      +[](TCalibration& c, TManagedProfile&) { c.ApdState = TCalibration::StateNone; },
                      +[](TCalibration&, TManagedProfile& pr) { pr.RecordShots = 0; }}) {
    Cal().ApdState = TCalibration::StateAttempted;
    Cal().ApdFlag = 0;
    profile->RecordShots = 1000;
    change(Cal(), *profile);
    profile->Signal.assign(8, 100.0);
    TAdjustSensor q(fx.args.get());
    EXPECT_TRUE(q.Process(profile.get()));
    EXPECT_EQ(profile->Signal[0], 100);
  }
  // A zero scale stops the chain.
  Cal().ApdFlag = 0;
  profile->RecordShots = 1000;
  Cal().ApdScale = 0;
  TAdjustSensor q(fx.args.get());
  EXPECT_FALSE(q.Process(profile.get()));
}

TEST_F(ProcessingsTest, AfterPulseAndOverlapReachAsFarAsTheirTables) {
  Cal().AfterPulseState = TCalibration::StatePresent;
  Cal().AfterPulseCount = 3;
  Cal().AfterPulse = {1, 2, 3};
  Cal().OverlapState = TCalibration::StatePresent;
  Cal().OverlapCount = 2;
  Cal().OverlapInverse = {10, 20, 30, 40};
  profile->Signal.assign(8, 100.0);
  profile->Signal[1] = NaN;
  TAfterPulse a(fx.args.get());
  TOverlap o(fx.args.get());
  ASSERT_TRUE(a.Process(profile.get()));
  ASSERT_TRUE(o.Process(profile.get()));
  EXPECT_EQ(profile->Signal[0], 990);
  EXPECT_TRUE(std::isnan(profile->Signal[1]));
  EXPECT_EQ(profile->Signal[2], 97);
  EXPECT_EQ(profile->Signal[3], 100);
}

class BackgroundTest : public ProcessingsTest {
 protected:
  BackgroundTest() : ProcessingsTest(2048) {}
};

TEST_F(BackgroundTest, WindowOfTheProfileEnd) {
  TDistanceCompute d(fx.args.get());
  ASSERT_TRUE(d.Process(profile.get()));
  EXPECT_DOUBLE_EQ(profile->Distance[9], 149.896229);
  for (size_t i = 0; i < 2048; ++i) profile->Signal[i] = static_cast<double>(i);
  TBrightnessSky p(fx.args.get());
  ASSERT_TRUE(p.Process(profile.get()));
  // Gates 1843 to 2027 inclusive (185 gates), divided by 2027 - 1843 = 184.
  double sum = 0;
  for (int i = 1843; i <= 2027; ++i) sum += i;
  EXPECT_DOUBLE_EQ(profile->Background, sum / 184);
  EXPECT_DOUBLE_EQ(profile->Signal[10], 10 - sum / 184);

  Cal().BackgroundStart = Cal().BackgroundEnd = 0.5;
  profile->Signal.assign(2048, 7.0);
  TBrightnessSky q(fx.args.get());
  EXPECT_FALSE(q.Process(profile.get()));
  EXPECT_EQ(profile->Background, 0);
  EXPECT_EQ(profile->Signal[0], 7);
}

TEST_F(ProcessingsTest, RangeSquared) {
  TDistanceCompute d(fx.args.get());
  ASSERT_TRUE(d.Process(profile.get()));
  profile->Signal.assign(8, 2.0);
  TDataPR2 p(fx.args.get());
  ASSERT_TRUE(p.Process(profile.get()));
  EXPECT_DOUBLE_EQ(profile->Signal[3], 2 * std::pow(4 * 14.9896229, 2));
}
