// The afterpulse calibration's arithmetic: which profiles count, what is
// kept of their values, and the smoothing that turns them into the file.
#include "kernel/processing/AfterPulseCalibration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "Config/ChannelConfig.h"

namespace OrlaqLidar {
namespace {

double GeometricMean(const std::vector<double>& v, int from, int to) {
  double sum = 0;
  for (int k = from; k <= to; ++k) sum += std::log(v[k]);
  return std::exp(sum / (to - from + 1));
}

TEST(AfterPulseCalibrationTest, SmoothingCopiesTheFirstGatesThenWidensAGeometricMeanUpToElevenGates) {
  const int n = TAfterPulseCalibration::SmoothingStart(100e-9);
  ASSERT_EQ(n, 66);
  std::vector<double> measured(100);
  for (size_t i = 0; i < measured.size(); ++i) measured[i] = 1000.0 / (1 + i) + (i % 3) * 7.0;
  measured[10] = -4;  // a gate below the background
  std::vector<double> out(100, -1);
  TAfterPulseCalibration::Smooth(measured, n, out);

  EXPECT_EQ(out[10], 0.0);
  for (int j : {0, 11, 66}) EXPECT_EQ(out[j], measured[j]) << j;
  EXPECT_DOUBLE_EQ(out[67], GeometricMean(measured, 66, 68));
  EXPECT_DOUBLE_EQ(out[70], GeometricMean(measured, 66, 74));
  EXPECT_DOUBLE_EQ(out[71], GeometricMean(measured, 66, 76));
  EXPECT_DOUBLE_EQ(out[80], GeometricMean(measured, 75, 85));
  // The last gates: the window stops at the last value but keeps its start.
  EXPECT_DOUBLE_EQ(out[97], GeometricMean(measured, 92, 99));
  EXPECT_DOUBLE_EQ(out[99], GeometricMean(measured, 94, 99));
}

TEST(AfterPulseCalibrationTest, WindowsWithoutSignalAboveOneStoreZeroAndOnlyCommonGatesAreWritten) {
  std::vector<double> measured(20, 0.5);
  measured[12] = 0;  // counted in the window, adds nothing to the sum
  measured[15] = 5000;
  std::vector<double> out(12, -1);  // a calibration shorter than the profile
  TAfterPulseCalibration::Smooth(measured, 2, out);
  EXPECT_EQ(out[2], 0.5) << "copied";
  EXPECT_EQ(out[5], 0.0) << "every positive value below 1: negative sum";
  EXPECT_DOUBLE_EQ(out[11], std::exp((std::log(5000.0) + 9 * std::log(0.5)) / 11)) << "gate 12's zero counts";

  // Without a smoothing start the values are copied, negatives as 0.
  std::vector<double> copy(4);
  TAfterPulseCalibration::Smooth({3, -1, 0.25, 8}, 0, copy);
  EXPECT_EQ(copy, (std::vector<double>{3, 0, 0.25, 8}));
}

TEST(AfterPulseCalibrationTest, OnlyProfilesOfEightyPercentOfTheTimeCountAndAbsurdValuesBecomeZero) {
  TChannelConfig channel;
  channel.DoorsCount = channel.DoorsUsed = 4;
  TManagedProfile profile(3, &channel, nullptr, 60, nullptr);
  TAfterPulseCalibration calibration(nullptr, nullptr, nullptr);
  calibration.Start(60);
  profile.Signal = {std::numeric_limits<double>::quiet_NaN(), 2e100, -2.5, 1e100};
  profile.StartTime = 46000.25;
  profile.Open = false;

  profile.LastTime = profile.StartTime + 47.9 / SecondsPerDay;
  EXPECT_FALSE(calibration.Take(profile)) << "below 48 s";
  profile.Open = true;
  profile.LastTime = profile.StartTime + 48.0 / SecondsPerDay;
  EXPECT_FALSE(calibration.Take(profile)) << "still accumulating";
  profile.Open = false;
  ASSERT_TRUE(calibration.Take(profile));
  ASSERT_NE(calibration.Result(3), nullptr);
  EXPECT_EQ(calibration.Result(3)->Values, (std::vector<double>{0, 0, -2.5, 1e100}));
  EXPECT_EQ(calibration.SourceTime(), profile.StartTime);

  EXPECT_EQ(TAfterPulseCalibration::CommentLines(2, EncodeDateTime(2026, 12, 5, 6, 39, 40), 300),
            (std::vector<std::string>{"# Channel2", "# Data source : 05/12/2026,06:39:40", "# Integration sec: 300",
                                      "#"}));
}

}  // namespace
}  // namespace OrlaqLidar
