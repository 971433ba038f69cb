#include "Display/ScrolledBitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace OrlaqLidar {

TScrolledBitmap::TScrolledBitmap(int width, int rows)
    : width_(std::max(width, 1)),
      rows_(std::max(rows, 1)),
      stride_((width_ + 7) / 8 * 8),
      buffer_(static_cast<size_t>(rows_ + AddonLines) * stride_, 0),
      start_(static_cast<size_t>(AddonLines / 2) * stride_) {}

void TScrolledBitmap::Clear() { std::memset(buffer_.data(), 0, buffer_.size()); }

void TScrolledBitmap::Scroll(int k) {
  if (k == 0) return;
  if (std::abs(k) >= width_) {
    Clear();
    return;
  }
  const size_t image = static_cast<size_t>(rows_) * stride_;
  const size_t home = static_cast<size_t>(AddonLines / 2) * stride_;
  if (k > 0) {
    if (start_ + k + image > buffer_.size()) {
      // Back by whole lines, so that columns keep their place.
      const size_t back = (start_ - home) / stride_ * stride_;
      std::memmove(buffer_.data() + start_ - back, buffer_.data() + start_, image);
      start_ -= back;
    }
    start_ += k;
    ClearColumns(width_ - k, k);
  } else {
    const size_t m = static_cast<size_t>(-k);
    if (start_ < m) {
      const size_t forward = (home - start_ + stride_ - 1) / stride_ * stride_;
      std::memmove(buffer_.data() + start_ + forward, buffer_.data() + start_, image);
      start_ += forward;
    }
    start_ -= m;
    ClearColumns(0, static_cast<int>(m));
  }
}

void TScrolledBitmap::ClearColumns(int from, int count) {
  for (int r = 0; r < rows_; ++r) std::memset(Line(r) + from, 0, static_cast<size_t>(count));
}

}  // namespace OrlaqLidar
