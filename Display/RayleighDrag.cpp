#include "Display/RayleighDrag.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

double TRayleighDrag::Distance(TPixel p, TPixel a, TPixel b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double len2 = dx * dx + dy * dy;
  const double t = len2 > 0 ? std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(p.X - (a.X + t * dx), p.Y - (a.Y + t * dy));
}

bool TRayleighDrag::Press(const std::vector<TRayleighSegment>& segments, TPixel at, const TToPixel& toPixel) {
  active_ = false;
  if (segments.empty()) return false;
  for (const TRayleighSegment& s : segments) {
    const TPixel a = toPixel(s.From), b = toPixel(s.To);
    // A point off a logarithmic axis maps nowhere.
    if (!std::isfinite(a.X + a.Y + b.X + b.Y)) continue;
    if (Distance(at, a, b) <= GrabPixels) {
      active_ = true;
      break;
    }
  }
  if (!active_) return false;
  press_ = at;
  anchor_ = toPixel(segments.front().From);
  return true;
}

std::optional<TProfilePoint> TRayleighDrag::Move(TPixel at, const TPlot& plot, const TToPoint& toPoint) const {
  if (!active_) return std::nullopt;
  // The mouse stays inside the plot, so the lines cannot be lost off it.
  at.X = std::clamp(at.X, plot.Left, plot.Right);
  at.Y = std::clamp(at.Y, plot.Top, plot.Bottom);
  const TProfilePoint p = toPoint({anchor_.X + at.X - press_.X, anchor_.Y + at.Y - press_.Y});
  if (!std::isfinite(p.Value) || !std::isfinite(p.Y) || !(p.Value > 0)) return std::nullopt;
  return p;
}

}  // namespace OrlaqLidar
