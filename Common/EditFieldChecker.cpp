#include "Common/EditFieldChecker.h"

#include <cmath>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

TEditFieldChecker::TEditFieldChecker(TFieldKind kind, double minimum, double maximum)
    : kind_(kind), min_(minimum), max_(maximum) {}

std::string TEditFieldChecker::RangeText() const { return FormatFloat(min_) + " and " + FormatFloat(max_); }

TFieldCheck TEditFieldChecker::Check(std::string_view text) const {
  TFieldCheck r;
  if (kind_ == TFieldKind::Whole) {
    auto v = TryParseInt64(text);
    if (!v) {
      r.Refusal = "Please enter a whole number between " + RangeText();
      return r;
    }
    r.Value = static_cast<double>(*v);
  } else {
    auto v = TryParseDouble(text);
    if (!v || !std::isfinite(*v)) {
      r.Refusal = "Please enter a number between " + RangeText();
      return r;
    }
    r.Value = *v;
  }
  if (r.Value < min_ || r.Value > max_) {
    r.Refusal = "The value must be between " + RangeText();
    return r;
  }
  r.Ok = true;
  return r;
}

}  // namespace OrlaqLidar
