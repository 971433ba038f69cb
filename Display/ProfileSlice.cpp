#include "Display/ProfileSlice.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

TProfileSlice::TProfileSlice(int64_t firstColumn, int rows, int width)
    : first_(firstColumn),
      rows_(std::max(rows, 0)),
      width_(std::max(width, 1)),
      values_(static_cast<size_t>(rows_) * width_, 0.0f),
      filled_(width_, 0),
      excluded_(width_, 0),
      counted_(width_, 0),
      colMin_(width_, Empty),
      colMax_(width_, -Empty),
      info_(width_) {}

void TProfileSlice::SetColumn(int64_t column, const double* gates, int gateCount, bool excluded,
                              const TColumnInfo& info) {
  if (!Contains(column)) return;
  const int c = Local(column);
  float lo = Empty, hi = -Empty;
  const int last = std::min(gateCount, rows_);
  for (int r = 0; r < rows_; ++r) values_[static_cast<size_t>(r) * width_ + c] = 0.0f;
  for (int i = 1; i < last; ++i) {
    const double x = gates[i];
    if (!(std::isfinite(x) && x > 0)) continue;
    const float v = static_cast<float>(std::log10(x + 1.0));
    if (!(v > 0)) continue;
    values_[static_cast<size_t>(i - 1) * width_ + c] = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  colMin_[c] = lo;
  colMax_[c] = hi;
  info_[c] = info;
  filled_[c] = 1;
  excluded_[c] = excluded ? 1 : 0;
  counted_[c] = excluded ? 0 : 1;
  if (firstFilled_ < 0 || column < firstFilled_) firstFilled_ = column;
  if (lastFilled_ < 0 || column > lastFilled_) lastFilled_ = column;
  dirty_ = true;
}

float TProfileSlice::Min() const {
  Recompute();
  return min_;
}

float TProfileSlice::Max() const {
  Recompute();
  return max_;
}

void TProfileSlice::Recompute() const {
  if (!dirty_) return;
  min_ = Empty;
  max_ = -Empty;
  for (int c = 0; c < width_; ++c) {
    if (!filled_[c] || excluded_[c]) continue;
    min_ = std::min(min_, colMin_[c]);
    max_ = std::max(max_, colMax_[c]);
  }
  dirty_ = false;
}

}  // namespace OrlaqLidar
