#include "Display/QuicklookGrid.h"

#include <cmath>

namespace OrlaqLidar {

namespace {
constexpr double kMicroDay = 1e-6 / 86400.0;
}

int64_t TQuicklookGrid::UnixSeconds(TDateTime t) {
  return static_cast<int64_t>(std::floor((t - 25569.0 + kMicroDay) * 86400.0));
}

int64_t TQuicklookGrid::ColumnIndex(TDateTime t, int step) {
  const int64_t s = UnixSeconds(t);
  return s >= 0 ? s / step : -((-s + step - 1) / step);
}

TDateTime TQuicklookGrid::ColumnTime(int64_t column, int step) {
  return static_cast<double>(column * step) / 86400.0 + 25569.0 + kMicroDay;
}

}  // namespace OrlaqLidar
