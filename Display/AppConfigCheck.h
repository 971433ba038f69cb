#pragma once
// The rules of the configuration dialog without its widgets: the quicklook
// time span typed by hand and the checks of the manual axis limits.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace OrlaqLidar {

class TAppConfigCheck {
 public:
  struct TSpanItem {
    const char* Caption;
    int Minutes;
  };
  // The time-span list; 0 minutes is the automatic span.
  static const std::array<TSpanItem, 10> SpanItems;
  static constexpr int MaxSpanMinutes = 1440;
  // What the time-span field lets the operator type.
  static bool SpanCharAccepted(char c);
  // A whole number with an optional unit letter ("45", "3h", "3 H",
  // "90 min"); "h" counts hours, anything else minutes. Normalised; empty
  // when the text holds no number.
  static std::optional<int> ParseSpan(std::string_view text);
  // Up to a day; up to an hour in steps of 10 minutes, beyond in whole
  // hours, rounded up.
  static int NormaliseSpan(long long minutes);
  // The list caption when there is one, else "50 min" or "2 h".
  static std::string SpanText(int minutes);
  // Index in SpanItems, or -1.
  static int SpanIndex(int minutes);

  static constexpr const char* MinMaxRefusal = "Min value must be lower than the Max value!";
  static constexpr const char* DistanceRefusal =
      "Difference between Min and Max Distance/Altitude must be 500m at least !";
  static constexpr double MinDistanceSpanKm = 0.5;

  struct TAxisCheck {
    bool Ok = true;
    std::string Refusal;
    std::optional<double> CorrectedMax;  // what the maximum field is set to
  };
  static TAxisCheck CheckValueAxis(double minimum, double maximum);
  static TAxisCheck CheckDistanceAxis(double minKm, double maxKm);
};

}  // namespace OrlaqLidar
