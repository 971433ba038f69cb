#pragma once
// Dragging the simplified Rayleigh lines of the profile chart. The drag
// works in the chart's pixels and lets the chart convert, so that a line
// follows the mouse on a logarithmic axis as on a linear one; the result
// is the new anchor of the lines (the first segment's start).
#include <functional>
#include <optional>
#include <vector>

#include "Display/ProfileDisplay.h"

namespace OrlaqLidar {

class TRayleighDrag {
 public:
  static constexpr double GrabPixels = 5;

  struct TPixel {
    double X = 0, Y = 0;
  };
  struct TPlot {  // the plot area in pixels
    double Left = 0, Top = 0, Right = 0, Bottom = 0;
  };
  using TToPixel = std::function<TPixel(const TProfilePoint&)>;
  using TToPoint = std::function<TProfilePoint(const TPixel&)>;

  // Grabs the lines when the pixel is within GrabPixels of a segment.
  bool Press(const std::vector<TRayleighSegment>& segments, TPixel at, const TToPixel& toPixel);
  // Where the anchor goes with the mouse at this pixel (kept inside the
  // plot); nothing when not dragging or when the point has no value there.
  std::optional<TProfilePoint> Move(TPixel at, const TPlot& plot, const TToPoint& toPoint) const;
  void Release() { active_ = false; }
  bool Active() const { return active_; }

  // Distance in pixels from a point to a segment.
  static double Distance(TPixel p, TPixel a, TPixel b);

 private:
  bool active_ = false;
  TPixel press_, anchor_;
};

}  // namespace OrlaqLidar
