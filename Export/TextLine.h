#pragma once
// One line of a text export file: a tag and its columns joined by the
// delimiter, quoted where needed, ended by CR LF; and the number and date
// forms of the columns. Numbers always use "." whatever the locale.
#include <cstdint>
#include <string>
#include <string_view>

#include "Common/DateTime.h"

namespace OrlaqExport {

constexpr const char* LineEnd = "\r\n";

// The value as single precision, shortest form that reads back, at most 9
// significant digits.
std::string ShortFloat(double v);
// The same into out, which holds ShortFloatSize characters; returns the length.
constexpr size_t ShortFloatSize = 32;
size_t ShortFloatChars(double v, char* out);
// Shortest form with at most 15 significant digits.
std::string LongFloat(double v);
// 0 day decimal, 1 RFC3339 (UTC, milliseconds, no zone), 2 Unix epoch
// seconds; any other value as 0.
std::string ExportDate(OrlaqLidar::TDateTime t, uint8_t format);
// The heading as the DI line carries it: ((h + 720 - 1) modulo 360) + 1,
// so that north is 360 rather than 0.
double ExportHeading(double heading);
// "Day decimal", "RFC3339", "Epoch" or "Unknown".
std::string DateFormatName(uint8_t format);
// The column in double quotes, inner quotes doubled, when it holds a blank,
// a control character, a double quote or the delimiter; else as it is.
std::string QuoteColumn(std::string_view column, char delimiter);

class TTextLine {
 public:
  TTextLine(std::string_view tag, char delimiter, uint8_t dateFormat = 0);

  TTextLine& Text(std::string_view column);
  TTextLine& Int(long long value);
  TTextLine& Short(double value);
  TTextLine& Long(double value);
  TTextLine& Date(OrlaqLidar::TDateTime t);
  // Room for a long line (a profile's gates) made once.
  void Reserve(size_t characters) { line_.reserve(characters); }

  // The line with its CR LF.
  std::string Finish() const { return line_ + LineEnd; }

 private:
  std::string line_;
  char delimiter_;
  uint8_t dateFormat_;
  bool numbersMayNeedQuotes_;
};

}  // namespace OrlaqExport
