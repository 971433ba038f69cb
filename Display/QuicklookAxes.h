#pragma once
// Time and range axes of a quicklook panel.
#include <cstdint>

namespace OrlaqLidar {

struct TTimeWindow {
  int64_t Start = 0;  // Unix seconds
  int64_t End = 0;
  int64_t Length() const { return End - Start; }
};

struct TQuicklookAxes {
  static constexpr double HalfLightSpeed = 149896229.0;  // m/s, out and back
  static constexpr int64_t MinWindow = 600, MaxWindow = 86400;

  // spanMinutes > 0: that many minutes; 0: the data extent plus one step,
  // kept within 10 minutes and a day. Ends one step after the last column.
  static TTimeWindow TimeWindow(int spanMinutes, int64_t firstColumn, int64_t lastColumn, int step);
  // A round label increment giving at most maxTicks labels.
  static int64_t TimeIncrement(int64_t windowSeconds, int maxTicks = 8);
  static int MinorTicks(int64_t incrementSeconds) { return incrementSeconds < 1800 ? 4 : 5; }

  // Range axis in km: distance = row * bin width + offset.
  static double BinWidthKm(double gateTime) { return HalfLightSpeed * gateTime * 0.001; }
  static double OffsetKm(double offsetTime) { return HalfLightSpeed * offsetTime * 0.001; }
  static double RangeMaxKm(int rows, double gateTime, double offsetTime) {
    return rows * BinWidthKm(gateTime) + OffsetKm(offsetTime);
  }
  static double RowOf(double distanceKm, double gateTime, double offsetTime) {
    const double w = BinWidthKm(gateTime);
    return w > 0 ? (distanceKm - OffsetKm(offsetTime)) / w : 0;
  }
  // A round increment for a range axis of this length.
  static double RangeIncrement(double lengthKm, int maxTicks = 8);
};

}  // namespace OrlaqLidar
