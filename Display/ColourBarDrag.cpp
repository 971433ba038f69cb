#include "Display/ColourBarDrag.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

double TColourBarDrag::FractionAt(const TBar& bar, int y) {
  if (bar.Height <= 1) return 1.0;
  return std::clamp(1.0 - static_cast<double>(y - bar.Top) / (bar.Height - 1), 0.0, 1.0);
}

double TColourBarDrag::PixelAt(const TBar& bar, double f) {
  return bar.Top + (1.0 - f) * std::max(bar.Height - 1, 0);
}

int TColourBarDrag::ThresholdAt(const TPaletteContrast& palette, const TBar& bar, int y) {
  int best = -1;
  double bestDistance = GrabPixels + 0.5;
  for (int k = 1; k < TPaletteContrast::Colours - 1; ++k) {
    const double d = std::abs(PixelAt(bar, palette.Threshold(k)) - y);
    if (d < bestDistance) {
      best = k;
      bestDistance = d;
    }
  }
  return best;
}

bool TColourBarDrag::Press(const TPaletteContrast& palette, const TBar& bar, int y) {
  Release();
  const int k = ThresholdAt(palette, bar, y);
  if (k < 0) return false;
  bar_ = bar;
  lo_ = hi_ = k;
  const double t = palette.Threshold(k);
  while (lo_ > 1 && palette.Threshold(lo_ - 1) == t) --lo_;
  while (hi_ < TPaletteContrast::Colours - 2 && palette.Threshold(hi_ + 1) == t) ++hi_;
  return true;
}

bool TColourBarDrag::Move(TPaletteContrast& palette, int y) {
  if (!Active()) return false;
  const double f = FractionAt(bar_, y);
  if (lo_ != hi_) {
    const double t = palette.Threshold(lo_);
    if (f == t) return false;
    lo_ = hi_ = f > t ? hi_ : lo_;
  }
  const double before = palette.Threshold(lo_);
  palette.MoveThreshold(lo_, f);
  return palette.Threshold(lo_) != before;
}

}  // namespace OrlaqLidar
