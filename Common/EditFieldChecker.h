#pragma once
// The check every dialog applies to its numeric entry fields: a whole or a
// decimal number within a range. Kept apart from the widgets so that the
// refusal rules can be tested without a window.
#include <string>
#include <string_view>

namespace OrlaqLidar {

enum class TFieldKind { Whole = 1, Decimal = 2 };

struct TFieldCheck {
  bool Ok = false;
  double Value = 0;
  std::string Refusal;  // empty when Ok
};

class TEditFieldChecker {
 public:
  TEditFieldChecker(TFieldKind kind, double minimum, double maximum);

  // Decimal fields take "." or "," as separator, whatever the locale.
  TFieldCheck Check(std::string_view text) const;

  TFieldKind Kind() const { return kind_; }
  double Minimum() const { return min_; }
  double Maximum() const { return max_; }

  // The range as the refusal text shows it ("10 and 3600", "-50 and 100").
  std::string RangeText() const;

 private:
  TFieldKind kind_;
  double min_;
  double max_;
};

}  // namespace OrlaqLidar
