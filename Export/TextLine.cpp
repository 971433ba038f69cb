#include "Export/TextLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace OrlaqExport {

using namespace OrlaqLidar;

size_t ShortFloatChars(double v, char* out) {
  // A negative zero (a zero raw value times a negative factor) reads as 0.
  const float f = v == 0 ? 0.0f : static_cast<float>(v);
  char sci[32];
  char* end = std::to_chars(sci, sci + sizeof sci, f, std::chars_format::scientific).ptr;
  const size_t length = static_cast<size_t>(end - sci);
  const char* e = std::find(sci, end, 'e');
  if (!std::isfinite(f) || e == end) return static_cast<size_t>(std::copy(sci, end, out) - out);
  // The shortest digits come as "-d.ddde+XX"; write them as the general
  // form does: plain notation for exponents -4 to 8, else scientific.
  int exponent = 0;
  std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
  if (exponent < -4 || exponent >= 9) return static_cast<size_t>(std::copy(sci, sci + length, out) - out);
  const bool negative = sci[0] == '-';
  char digits[16];
  size_t count = 0;
  for (const char* p = sci + (negative ? 1 : 0); p < e; ++p)
    if (*p != '.') digits[count++] = *p;
  char* o = out;
  if (negative) *o++ = '-';
  const size_t whole = static_cast<size_t>(exponent) + 1;
  if (exponent < 0) {
    *o++ = '0';
    *o++ = '.';
    o = std::fill_n(o, -exponent - 1, '0');
    o = std::copy(digits, digits + count, o);
  } else if (count <= whole) {
    o = std::copy(digits, digits + count, o);
    o = std::fill_n(o, whole - count, '0');
  } else {
    o = std::copy(digits, digits + whole, o);
    *o++ = '.';
    o = std::copy(digits + whole, digits + count, o);
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
    : line_(tag), delimiter_(delimiter), dateFormat_(dateFormat) {}

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
  return Text(std::string_view(buf, ShortFloatChars(value, buf)));
}
TTextLine& TTextLine::Long(double value) { return Text(LongFloat(value)); }
TTextLine& TTextLine::Date(TDateTime t) { return Text(ExportDate(t, dateFormat_)); }

}  // namespace OrlaqExport
