#include "Display/AppConfigCheck.h"

#include <algorithm>
#include <cctype>

namespace OrlaqLidar {

const std::array<TAppConfigCheck::TSpanItem, 10> TAppConfigCheck::SpanItems{{{"Automatic", 0},
                                                                               {"10min", 10},
                                                                               {"20min", 20},
                                                                               {"30min", 30},
                                                                               {"1h", 60},
                                                                               {"2h", 120},
                                                                               {"3h", 180},
                                                                               {"6h", 360},
                                                                               {"12h", 720},
                                                                               {"24h", 1440}}};

bool TAppConfigCheck::SpanCharAccepted(char c) {
  return std::string_view("0123456789 minhMINH").find(c) != std::string_view::npos || c == '\b';
}

std::optional<int> TAppConfigCheck::ParseSpan(std::string_view text) {
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  };
  skipBlanks();
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  const size_t digits = i;
  long long value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
    value = std::min<long long>(value * 10 + (text[i] - '0'), 1'000'000'000);  // saturates: any day-plus is a day
  if (i == digits) return std::nullopt;
  skipBlanks();
  if (i < text.size() && (text[i] == 'h' || text[i] == 'H')) value *= 60;
  return NormaliseSpan(negative ? -value : value);
}

int TAppConfigCheck::NormaliseSpan(long long m) {
  if (m <= 0) return 0;  // nothing shorter than the automatic span
  if (m > MaxSpanMinutes) return MaxSpanMinutes;
  if (m < 61) return static_cast<int>((m + 9) / 10 * 10);
  return static_cast<int>((m + 55) / 60 * 60);
}

int TAppConfigCheck::SpanIndex(int minutes) {
  for (size_t i = 0; i < SpanItems.size(); ++i)
    if (SpanItems[i].Minutes == minutes) return static_cast<int>(i);
  return -1;
}

std::string TAppConfigCheck::SpanText(int minutes) {
  if (const int i = SpanIndex(minutes); i >= 0) return SpanItems[static_cast<size_t>(i)].Caption;
  if (minutes < 61) return std::to_string(minutes) + " min";
  return std::to_string(minutes / 60) + " h";
}

TAppConfigCheck::TAxisCheck TAppConfigCheck::CheckValueAxis(double minimum, double maximum) {
  TAxisCheck r;
  if (!(minimum < maximum)) {
    r.Ok = false;
    r.Refusal = MinMaxRefusal;
  }
  return r;
}

TAppConfigCheck::TAxisCheck TAppConfigCheck::CheckDistanceAxis(double minKm, double maxKm) {
  TAxisCheck r = CheckValueAxis(minKm, maxKm);
  // A tolerance, so that 0.1 to 0.6 km counts as the 500 m it is.
  if (r.Ok && maxKm - minKm < MinDistanceSpanKm - 1e-9) {
    r.Ok = false;
    r.Refusal = DistanceRefusal;
    r.CorrectedMax = minKm + MinDistanceSpanKm;
  }
  return r;
}

}  // namespace OrlaqLidar
