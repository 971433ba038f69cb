#include "Export/TextLine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fmt/format.h>

namespace OrlaqExport {

using namespace OrlaqLidar;

// "00", "01" ... "99": two digits a step halves the divisions.
constexpr auto DigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

size_t ShortFloatChars(double v, char* out) {
  // A negative zero (a zero raw value times a negative factor) reads as 0.
  const float f = v == 0 ? 0.0f : static_cast<float>(v);
  if (!std::isfinite(f)) return static_cast<size_t>(std::to_chars(out, out + ShortFloatSize, f).ptr - out);
  char* o = out;
  if (f == 0) {
    *o++ = '0';
    return 1;
  }
  if (std::signbit(f)) *o++ = '-';
  // The shortest digits that read back as the same float (at most 9),
  // without trailing zeros: the export's hottest path, a day holds millions.
  // fmt's Dragonbox through its detail interface: the public one would lay
  // the digits out its own way.
  const auto decimal = fmt::detail::dragonbox::to_decimal(std::fabs(f));
  // The digits end at digits + 16; the bytes behind them let every copy
  // below move a fixed 16 bytes, of which the count needed is kept (out
  // has room for the excess).
  char digits[32] = {};
  char* first = digits + 16;
  uint32_t rest = decimal.significand;
  for (; rest >= 100; rest /= 100) std::memcpy(first -= 2, &DigitPairs[2 * (rest % 100)], 2);
  if (rest >= 10)
    std::memcpy(first -= 2, &DigitPairs[2 * rest], 2);
  else
    *--first = static_cast<char>('0' + rest);
  const int count = static_cast<int>(digits + 16 - first);
  const int exponent = decimal.exponent + count - 1;
  if (exponent < -4 || exponent >= 9) {
    // Scientific, as "d.ddde+XX" with at least two exponent digits.
    *o++ = first[0];
    if (count > 1) {
      *o++ = '.';
      std::memcpy(o, first + 1, 16);
      o += count - 1;
    }
    *o++ = 'e';
    *o++ = exponent < 0 ? '-' : '+';
    // Single precision stays within e-45 and e+38.
    std::memcpy(o, &DigitPairs[2 * std::abs(exponent)], 2);
    o += 2;
  } else if (exponent < 0) {
    std::memcpy(o, "0.000", 5);
    o += 1 - exponent;
    std::memcpy(o, first, 16);
    o += count;
  } else if (count <= exponent + 1) {
    std::memcpy(o, first, 16);
    o += count;
    std::memset(o, '0', 8);
    o += exponent + 1 - count;
  } else {
    std::memcpy(o, first, 16);
    o += exponent + 1;
    *o = '.';
    std::memcpy(o + 1, first + exponent + 1, 16);
    o += 1 + count - (exponent + 1);
  }
  return static_cast<size_t>(o - out);
}

std::string ShortFloat(double v) {
  char buf[ShortFloatSize];
  return std::string(buf, ShortFloatChars(v, buf));
}

std::string LongFloat(double v) {
  if (v == 0) v = 0;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  return std::string(buf, r.ptr);
}

std::string ExportDate(TDateTime t, uint8_t format) {
  switch (format) {
    case 1: {
      const TDateTimeParts p = DecodeDateTime(t);
      char buf[48];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                    p.Second, p.Millisecond);
      return buf;
    }
    case 2:
      return std::to_string(std::llround(DateTimeToUnix(t)));
    default:
      return LongFloat(t);
  }
}

double ExportHeading(double heading) { return std::fmod(heading + 720 - 1, 360.0) + 1; }

std::string DateFormatName(uint8_t format) {
  switch (format) {
    case 0:
      return "Day decimal";
    case 1:
      return "RFC3339";
    case 2:
      return "Epoch";
    default:
      return "Unknown";
  }
}

bool NeedsQuotes(std::string_view column, char delimiter) {
  for (const char c : column) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ' ' || u < 0x20 || u == 0x7F || c == '"' || c == delimiter) return true;
  }
  return false;
}

std::string QuoteColumn(std::string_view column, char delimiter) {
  if (!NeedsQuotes(column, delimiter)) return std::string(column);
  std::string out = "\"";
  for (const char c : column) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

TTextLine::TTextLine(std::string_view tag, char delimiter, uint8_t dateFormat)
    : line_(tag),
      delimiter_(delimiter),
      dateFormat_(dateFormat),
      // A number holds digits, sign, point, exponent, "inf" or "nan": with
      // any other delimiter it never needs quotes.
      numbersMayNeedQuotes_(std::string_view("0123456789+-.eEinfa").find(delimiter) != std::string_view::npos) {}

TTextLine& TTextLine::Text(std::string_view column) {
  line_ += delimiter_;
  // Most columns are plain numbers: appended without a copy.
  if (NeedsQuotes(column, delimiter_))
    line_ += QuoteColumn(column, delimiter_);
  else
    line_ += column;
  return *this;
}

TTextLine& TTextLine::Int(long long value) { return Text(std::to_string(value)); }
TTextLine& TTextLine::Short(double value) {
  char buf[ShortFloatSize];
  const std::string_view number(buf, ShortFloatChars(value, buf));
  if (numbersMayNeedQuotes_) return Text(number);
  line_ += delimiter_;
  line_ += number;
  return *this;
}
TTextLine& TTextLine::Long(double value) { return Text(LongFloat(value)); }
TTextLine& TTextLine::Date(TDateTime t) { return Text(ExportDate(t, dateFormat_)); }

}  // namespace OrlaqExport
