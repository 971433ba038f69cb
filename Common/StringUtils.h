#pragma once
// Locale-independent string and number helpers: every number the program
// writes uses "." and every number it reads accepts "." or ",".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OrlaqLidar {

std::string Trim(std::string_view s);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsWithText(std::string_view s, std::string_view prefix);
std::vector<std::string> SplitString(std::string_view s, char sep);

// Whole-string conversions after trimming blanks; nullopt when the text is
// not a number. Decimal numbers accept "." or "," as separator.
std::optional<int> TryParseInt(std::string_view s);
std::optional<long long> TryParseInt64(std::string_view s);
std::optional<double> TryParseDouble(std::string_view s);

// Shortest text that reads back to the same double, with ".".
std::string FormatFloat(double v);
// Fixed number of decimals, with ".".
std::string FormatFixed(double v, int decimals);

}  // namespace OrlaqLidar
