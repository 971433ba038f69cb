#include "Display/PaletteContrast.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

namespace {
int Channel(uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); }
}  // namespace

TPaletteContrast::TPaletteContrast() {
  for (int k = 0; k < Colours; ++k) thresholds_[k] = k / 15.0;
  Rebuild();
}

bool TPaletteContrast::IsPaletteBitmap(int width, int height) { return width >= 64 && height >= 3 && width > height; }

std::optional<TPaletteContrast::TColours> TPaletteContrast::SampleBitmap(
    int width, int height, const std::function<uint32_t(int, int)>& pixel) {
  if (!IsPaletteBitmap(width, height)) return std::nullopt;
  TColours out{};
  for (int k = 0; k < Colours; ++k) out[k] = pixel(SampleX(width, k), height / 2) & 0xFFFFFF;
  return out;
}

void TPaletteContrast::SetPalette(const TColours& colours, const std::string& name) {
  colours_ = colours;
  name_ = name;
  hasPalette_ = true;
  for (int k = 0; k < Colours; ++k) thresholds_[k] = k / 15.0;
  Rebuild();
}

void TPaletteContrast::MoveThreshold(int k, double f) {
  if (k <= 0 || k >= Colours - 1) return;
  thresholds_[k] = std::clamp(f, thresholds_[k - 1], thresholds_[k + 1]);
  Rebuild();
}

int TPaletteContrast::NearestThreshold(double f) const {
  int best = 0;
  for (int k = 1; k < Colours; ++k)
    if (std::abs(thresholds_[k] - f) < std::abs(thresholds_[best] - f)) best = k;
  return best;
}

uint32_t TPaletteContrast::ColourAt(double f) const {
  if (!hasPalette_) {
    const int red = static_cast<int>(std::clamp(f, 0.0, 1.0) * 255);
    return (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(red / 2) << 8) | static_cast<uint32_t>(255 - red);
  }
  int k = 0;
  while (k < Colours && !(thresholds_[k] > f)) ++k;
  if (k >= 1 && k <= Colours - 1) {
    const double span = thresholds_[k] - thresholds_[k - 1];
    const double w = span > 0 ? (f - thresholds_[k - 1]) / span : 0.0;
    const uint32_t a = colours_[k - 1], b = colours_[k];
    uint32_t out = 0;
    for (int shift : {16, 8, 0}) {
      const double v = Channel(a, shift) + (Channel(b, shift) - Channel(a, shift)) * w;
      out |= static_cast<uint32_t>(std::clamp(static_cast<int>(v), 0, 255)) << shift;
    }
    return out;
  }
  return colours_[std::min(k, Colours - 1)];
}

void TPaletteContrast::Rebuild() {
  table_[0] = 0;
  for (int i = 0; i < 255; ++i) table_[i + 1] = 0xFF000000u | ColourAt(i / 254.0);
}

}  // namespace OrlaqLidar
