#pragma once
// The quicklook's colour ramp: 16 colours at movable thresholds, spread
// over the 255 data entries of the picture's colour table.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace OrlaqLidar {

class TPaletteContrast {
 public:
  static constexpr int Colours = 16;
  // 0xAARRGGBB; entry 0 is fully transparent ("no data").
  using TColourTable = std::array<uint32_t, 256>;
  using TColours = std::array<uint32_t, Colours>;  // 0xRRGGBB

  TPaletteContrast();

  // A bitmap qualifies when at least 64 wide, 3 high and wider than high.
  static bool IsPaletteBitmap(int width, int height);
  // The 16 patch colours along the middle row; nullopt when the bitmap
  // does not qualify. pixel(x, y) gives 0xRRGGBB.
  static std::optional<TColours> SampleBitmap(int width, int height, const std::function<uint32_t(int, int)>& pixel);
  // x of sample k in a bitmap of this width.
  static int SampleX(int width, int k) { return width / Colours / 2 + 1 + k * (width / Colours); }

  // Sets the colours and spaces the thresholds evenly again.
  void SetPalette(const TColours& colours, const std::string& name);
  const std::string& Name() const { return name_; }
  bool HasPalette() const { return hasPalette_; }
  const TColours& PaletteColours() const { return colours_; }

  double Threshold(int k) const { return thresholds_[k]; }
  // Moves threshold k to f, kept between its neighbours; the ends stay.
  void MoveThreshold(int k, double f);
  // The threshold nearest to f, the one a drag on the colour bar takes.
  int NearestThreshold(double f) const;

  // 0xRRGGBB at position f in [0, 1].
  uint32_t ColourAt(double f) const;
  const TColourTable& Table() const { return table_; }

 private:
  void Rebuild();

  TColours colours_{};
  std::array<double, Colours> thresholds_{};
  std::string name_;
  bool hasPalette_ = false;
  TColourTable table_{};
};

}  // namespace OrlaqLidar
