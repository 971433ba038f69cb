#pragma once
// Dragging the colour ramp's thresholds on a quicklook colour bar. The bar
// runs from f = 1 on its top pixel row to f = 0 on its bottom one; a
// threshold is grabbed within a few pixels and moves between its
// neighbours, so the ramp keeps its order. The two end thresholds stay.
#include "Display/PaletteContrast.h"

namespace OrlaqLidar {

class TColourBarDrag {
 public:
  static constexpr int GrabPixels = 4;

  // Bar geometry: first pixel row and number of rows.
  struct TBar {
    int Top = 0;
    int Height = 1;
  };

  static double FractionAt(const TBar& bar, int y);
  static double PixelAt(const TBar& bar, double f);
  // The inner threshold nearest to row y within GrabPixels, or -1.
  static int ThresholdAt(const TPaletteContrast& palette, const TBar& bar, int y);

  // Grabs the threshold under row y; false when there is none.
  bool Press(const TPaletteContrast& palette, const TBar& bar, int y);
  // Moves the grabbed threshold to row y; true when the ramp changed.
  bool Move(TPaletteContrast& palette, int y);
  void Release() { lo_ = hi_ = -1; }
  bool Active() const { return lo_ >= 0; }

 private:
  TBar bar_;
  // Thresholds sitting on one another are grabbed together; the first
  // move decides which one goes: upwards the highest, downwards the lowest.
  int lo_ = -1, hi_ = -1;
};

}  // namespace OrlaqLidar
