#include "Display/QuicklookAxes.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

TTimeWindow TQuicklookAxes::TimeWindow(int spanMinutes, int64_t firstColumn, int64_t lastColumn, int step) {
  int64_t length;
  if (spanMinutes > 0)
    length = std::min<int64_t>(static_cast<int64_t>(spanMinutes) * 60, MaxWindow);
  else
    length = std::clamp<int64_t>((lastColumn - firstColumn) * step + step, MinWindow, MaxWindow);
  TTimeWindow w;
  w.End = (lastColumn + 1) * step;
  w.Start = w.End - length;
  return w;
}

int64_t TQuicklookAxes::TimeIncrement(int64_t windowSeconds, int maxTicks) {
  static constexpr int64_t kSteps[] = {60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
  for (int64_t s : kSteps)
    if (windowSeconds / s <= maxTicks) return s;
  return 86400;
}

double TQuicklookAxes::RangeIncrement(double lengthKm, int maxTicks) {
  if (!(lengthKm > 0)) return 1;
  const double raw = lengthKm / std::max(maxTicks, 1);
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (m * p >= raw) return m * p;
  return 10 * p;
}

}  // namespace OrlaqLidar
