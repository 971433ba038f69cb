#include "Export/TextLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace OrlaqExport {

using namespace OrlaqLidar;

std::string ShortFloat(double v) {
  // A negative zero (a zero raw value times a negative factor) reads as 0.
  const float f = v == 0 ? 0.0f : static_cast<float>(v);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::scientific);
  const std::string sci(buf, r.ptr);
  if (!std::isfinite(f)) return sci;
  // The shortest digits come as "-d.ddde+XX"; write them as the general
  // form does: plain notation for exponents -4 to 8, else scientific.
  const size_t e = sci.find('e');
  const int exponent = std::stoi(sci.substr(e + 1));
  if (exponent < -4 || exponent >= 9) return sci;
  const bool negative = sci[0] == '-';
  std::string digits;
  for (size_t i = negative ? 1 : 0; i < e; ++i)
    if (sci[i] != '.') digits += sci[i];
  std::string out = negative ? "-" : "";
  if (exponent < 0) {
    out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else if (digits.size() <= static_cast<size_t>(exponent) + 1) {
    out += digits + std::string(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(exponent) + 1) + "." + digits.substr(static_cast<size_t>(exponent) + 1);
  }
  return out;
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

std::string QuoteColumn(std::string_view column, char delimiter) {
  bool quote = false;
  for (const char c : column) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ' ' || u < 0x20 || u == 0x7F || c == '"' || c == delimiter) {
      quote = true;
      break;
    }
  }
  if (!quote) return std::string(column);
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
  line_ += QuoteColumn(column, delimiter_);
  return *this;
}

TTextLine& TTextLine::Int(long long value) { return Text(std::to_string(value)); }
TTextLine& TTextLine::Short(double value) { return Text(ShortFloat(value)); }
TTextLine& TTextLine::Long(double value) { return Text(LongFloat(value)); }
TTextLine& TTextLine::Date(TDateTime t) { return Text(ExportDate(t, dateFormat_)); }

}  // namespace OrlaqExport
