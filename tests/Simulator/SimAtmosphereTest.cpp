// Sanity of the synthetic sky: the sun, the boundary layer, clouds,
// polarisation and wavelength contrasts, and the detector effects.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "Common/DateTime.h"
#include "Simulator/SimAtmosphere.h"

namespace OrlaqLidar::Test {
namespace {

constexpr double GateTime = 100e-9;
constexpr double GateLength = TSimAtmosphere::HalfLightSpeed * GateTime;
constexpr int Gates = 2048;

int GateAt(double z) { return static_cast<int>(std::lround(z / GateLength)) - 1; }

std::vector<double> Rates(const TSimAtmosphere& a, double waveLength, char pol, TDateTime t) {
  std::vector<double> r(Gates);
  a.CountRates(waveLength, pol, GateTime, 0, t, r);
  return r;
}

// Backscattered part of a rate: the observed rate with the dead-time loss
// undone, less the background.
double Signal(const TSimAtmosphere& a, const std::vector<double>& r, int gate, double waveLength, char pol,
              TDateTime t) {
  const double observed = r[static_cast<size_t>(gate)];
  const double trueRate = observed / (1 - TSimAtmosphere::DeadTime * observed);
  return trueRate - a.Background(waveLength, pol, t);
}

// First time of the day with a well developed low cloud.
TDateTime CloudyTime(const TSimAtmosphere& a, TDateTime day) {
  for (int minute = 0; minute < 2 * 1440; ++minute) {
    const TDateTime t = day + minute / 1440.0;
    if (a.LowCloud(t).Backscatter > 6e-5) return t;
  }
  return 0;
}

const TDateTime SummerNoon = EncodeDateTime(2026, 6, 21, 12, 0, 0);
const TDateTime SummerMidnight = EncodeDateTime(2026, 6, 21, 0, 0, 0);

TEST(SimAtmosphereTest, SunFollowsTheSiteAndTheSeason) {
  const TSimAtmosphere site(48.7, 2.2, 1);
  // Solstice: culmination 90 - 48.7 + 23.44 degrees, shortly before 12 UTC at 2.2 E.
  EXPECT_NEAR(site.SolarElevation(EncodeDateTime(2026, 6, 21, 11, 52, 0)), 64.7, 0.5);
  EXPECT_LT(site.SolarElevation(SummerMidnight), -15);
  EXPECT_NEAR(site.SolarElevation(EncodeDateTime(2026, 12, 21, 11, 52, 0)), 17.9, 0.5);
  // The same UTC time is night a quarter of the world further east.
  const TSimAtmosphere east(48.7, 92.2, 1);
  EXPECT_LT(east.SolarElevation(EncodeDateTime(2026, 12, 21, 12, 0, 0)), 0);
}

TEST(SimAtmosphereTest, SkyBackgroundIsDarkAtNightAndBrightByDay) {
  const TSimAtmosphere a(48.7, 2.2, 1, false);
  const double night = a.Background(532, '/', SummerMidnight);
  const double day = a.Background(532, '/', SummerNoon);
  EXPECT_GT(day, 1000 * night);
  EXPECT_GT(a.Background(532, '/', EncodeDateTime(2026, 6, 21, 8, 0, 0)), 10 * night);
  // Far gates see little more than the background, even on a dark night.
  const auto r = Rates(a, 532, '/', SummerMidnight);
  EXPECT_GE(r.back(), night * 0.99);
  EXPECT_LT(r.back(), night * 1.15);
  EXPECT_GT(Rates(a, 532, '/', SummerNoon).back(), 1000 * r.back());
}

TEST(SimAtmosphereTest, ReturnFallsWithRangeAboveTheBoundaryLayer) {
  const TSimAtmosphere a(48.7, 2.2, 1, false);
  for (TDateTime t : {SummerMidnight, SummerNoon}) {
    const auto r = Rates(a, 532, '/', t);
    const int from = GateAt(a.BoundaryLayerTop(t) + 600);
    double previous = Signal(a, r, from, 532, '/', t);
    for (int g = from + 10; g < GateAt(15000); g += 10) {
      const double s = Signal(a, r, g, 532, '/', t);
      EXPECT_LT(s, previous) << "gate " << g;
      previous = s;
    }
  }
}

TEST(SimAtmosphereTest, BoundaryLayerGrowsThroughTheDayAndShowsAboveTheFreeTroposphere) {
  const TSimAtmosphere a(48.7, 2.2, 1, false);
  const double night = a.BoundaryLayerTop(EncodeDateTime(2026, 6, 21, 3, 0, 0));
  const double morning = a.BoundaryLayerTop(EncodeDateTime(2026, 6, 21, 10, 0, 0));
  const double afternoon = a.BoundaryLayerTop(EncodeDateTime(2026, 6, 21, 15, 0, 0));
  EXPECT_LT(night, 500);
  EXPECT_GT(morning, night + 300);
  EXPECT_GT(afternoon, morning + 200);
  EXPECT_GT(afternoon, 1500);
  // Winter afternoons stay lower than summer ones.
  EXPECT_LT(a.BoundaryLayerTop(EncodeDateTime(2026, 12, 21, 15, 0, 0)), afternoon - 300);

  // In the afternoon the aerosol return just below the top stands well above
  // the clear air just above it.
  const TDateTime t = EncodeDateTime(2026, 6, 21, 15, 0, 0);
  const auto r = Rates(a, 532, '/', t);
  EXPECT_GT(Signal(a, r, GateAt(0.85 * afternoon), 532, '/', t), 2 * Signal(a, r, GateAt(1.3 * afternoon), 532, '/', t));
}

TEST(SimAtmosphereTest, CloudRaisesTheReturnAndDimsWhatIsBehindIt) {
  const TSimAtmosphere cloudy(48.7, 2.2, 1, true);
  const TSimAtmosphere clear(48.7, 2.2, 1, false);
  const TDateTime t = CloudyTime(cloudy, SummerMidnight);
  ASSERT_GT(t, 0) << "no cloud in two days";
  const TSimAtmosphere::TCloud c = cloudy.LowCloud(t);
  const auto withCloud = Rates(cloudy, 532, '/', t);
  const auto without = Rates(clear, 532, '/', t);
  const int inside = GateAt((c.Base + c.Top) / 2);
  const int below = GateAt(c.Base - 150);
  const int behind = GateAt(c.Top + 1000);
  EXPECT_GT(Signal(cloudy, withCloud, inside, 532, '/', t), 5 * Signal(cloudy, withCloud, below, 532, '/', t));
  EXPECT_LT(Signal(cloudy, withCloud, behind, 532, '/', t), 0.9 * Signal(clear, without, behind, 532, '/', t));

  // The cloud drifts: its base moves by hundreds of metres within hours.
  double lowest = 1e9, highest = 0;
  for (int h = 0; h < 24; ++h) {
    const double base = cloudy.LowCloud(SummerMidnight + h / 24.0).Base;
    lowest = std::min(lowest, base);
    highest = std::max(highest, base);
  }
  EXPECT_GT(highest - lowest, 500);
}

TEST(SimAtmosphereTest, PerpendicularChannelIsAFewPercentExceptInTheCloud) {
  const TSimAtmosphere a(48.7, 2.2, 1, true);
  const TDateTime t = CloudyTime(a, SummerMidnight);
  ASSERT_GT(t, 0);
  const TSimAtmosphere::TCloud c = a.LowCloud(t);
  const auto par = Rates(a, 532, '/', t);
  const auto perp = Rates(a, 532, 'X', t);
  auto ratio = [&](double z) {
    const int g = GateAt(z);
    return Signal(a, perp, g, 532, 'X', t) / Signal(a, par, g, 532, '/', t);
  };
  for (double z : {300.0, 1000.0, c.Base - 300}) {
    EXPECT_GT(ratio(z), 0.005) << z;
    EXPECT_LT(ratio(z), 0.08) << z;
  }
  EXPECT_GT(ratio((c.Base + c.Top) / 2), 0.12);
}

TEST(SimAtmosphereTest, InfraredSeesLessAirAndMoreAerosol) {
  const TSimAtmosphere a(48.7, 2.2, 1, false);
  const TDateTime t = SummerMidnight;
  const auto green = Rates(a, 532, 'O', t);
  const auto ir = Rates(a, 1064, 'O', t);
  const int air = GateAt(6000);
  const int aerosol = GateAt(0.7 * a.BoundaryLayerTop(t) + 300);
  const double greenAir = Signal(a, green, air, 532, 'O', t);
  const double irAir = Signal(a, ir, air, 1064, 'O', t);
  EXPECT_LT(irAir, 0.3 * greenAir);
  const double greenContrast = Signal(a, green, aerosol, 532, 'O', t) / greenAir;
  const double irContrast = Signal(a, ir, aerosol, 1064, 'O', t) / irAir;
  EXPECT_GT(irContrast, 2 * greenContrast);
}

TEST(SimAtmosphereTest, NearRangeShowsOverlapLossSaturationAndAfterpulse) {
  const TSimAtmosphere a(48.7, 2.2, 1, false);
  const TDateTime t = SummerNoon;
  const auto r = Rates(a, 532, '/', t);
  const auto peak = std::max_element(r.begin(), r.end());
  const double peakRange = static_cast<double>(peak - r.begin() + 1) * GateLength;
  // The telescope sees the beam fully only from a few hundred metres on.
  EXPECT_GT(peakRange, 150);
  EXPECT_LT(peakRange, 1500);
  EXPECT_LT(r[0], 0.3 * *peak);
  // No counter registers more than one count per dead time, and at the peak
  // the loss is large enough to matter.
  for (double x : r) EXPECT_LT(x, 1 / TSimAtmosphere::DeadTime);
  EXPECT_GT(TSimAtmosphere::DeadTime * *peak, 0.1);
  // Afterpulse: at night, far gates hold the background and nothing else,
  // but the first gates hold more than the overlap-starved return explains.
  const auto night = Rates(a, 532, '/', SummerMidnight);
  const auto clearNight = [&](int g) { return Signal(a, night, g, 532, '/', SummerMidnight); };
  EXPECT_GT(clearNight(0), 10 * a.Background(532, '/', SummerMidnight));
}

TEST(SimAtmosphereTest, TheSeedChangesTheWeatherButNotTheClimate) {
  const TSimAtmosphere a(48.7, 2.2, 1), b(48.7, 2.2, 1), c(48.7, 2.2, 2);
  const TDateTime t = SummerNoon + 0.123;
  EXPECT_EQ(Rates(a, 532, '/', t), Rates(b, 532, '/', t));
  EXPECT_NE(a.LowCloud(t).Base, c.LowCloud(t).Base);
  EXPECT_NEAR(a.BoundaryLayerTop(t), c.BoundaryLayerTop(t), 100);
}

}  // namespace
}  // namespace OrlaqLidar::Test
