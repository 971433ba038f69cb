#include "Display/Histogram.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

void THistogram::Reset(double lower, double upper) {
  lower_ = lower;
  upper_ = upper;
  binWidth_ = (upper - lower) / (Bins + 1);
  counts_.fill(0);
  total_ = 0;
}

void THistogram::Remove(float value) {
  int64_t& c = counts_[Bin(value)];
  if (c > 0) --c, --total_;
}

int THistogram::Bin(float value) const {
  // Equal bounds leave no width: everything is the bottom bin.
  if (!(binWidth_ > 0)) return 0;
  const double b = std::floor((value - lower_) / binWidth_);
  if (!(b > 0)) return 0;
  return b >= Bins - 1 ? Bins - 1 : static_cast<int>(b);
}

int64_t THistogram::Peak() const { return *std::max_element(counts_.begin(), counts_.end()); }

void THistogram::Limits(double& minimum, double& maximum) const {
  const int64_t threshold = static_cast<int64_t>(static_cast<double>(Peak()) * 0.0005);
  int first = -1, last = -1;
  for (int b = 0; b < Bins; ++b) {
    // A zero threshold would accept empty bins; a bin must hold something.
    if (counts_[b] >= std::max<int64_t>(threshold, 1)) {
      if (first < 0) first = b;
      last = b;
    }
  }
  if (first < 0) {
    minimum = maximum = lower_;
    return;
  }
  minimum = lower_ + first * binWidth_;
  maximum = lower_ + last * binWidth_;
}

}  // namespace OrlaqLidar
