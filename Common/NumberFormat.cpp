#include "Common/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {

// One section of a picture, taken apart.
struct TPicture {
  std::string Prefix;  // literals before the first digit placeholder
  std::string Suffix;  // every other literal, after the number
  int IntZeros = 0;    // '0' before the point: integer digits always shown
  int IntDigits = 0;   // '0' and '#' before the point
  int DecZeros = 0;    // '0' after the point
  int DecDigits = 0;   // '0' and '#' after the point
  bool Exponent = false;
  bool ExpPlus = false;  // "E+": the exponent's sign is always shown
  char ExpLetter = 'E';
  int ExpDigits = 0;
  bool HasPlaceholder = false;
};

std::vector<std::string> SplitSections(std::string_view format) {
  std::vector<std::string> sections(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.emplace_back();
      continue;
    }
    sections.back() += c;
  }
  return sections;
}

TPicture Parse(const std::string& section) {
  TPicture p;
  bool point = false;
  bool inExponent = false;
  auto literal = [&p](char c) { (p.HasPlaceholder ? p.Suffix : p.Prefix) += c; };
  for (size_t i = 0; i < section.size(); ++i) {
    const char c = section[i];
    if (c == '"' || c == '\'') {
      const size_t end = section.find(c, i + 1);
      const std::string text = section.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      for (char t : text) literal(t);
      if (end == std::string::npos) break;
      i = end;
    } else if (inExponent && c == '0') {
      ++p.ExpDigits;
    } else if (c == '0' || c == '#') {
      inExponent = false;
      p.HasPlaceholder = true;
      if (point) {
        ++p.DecDigits;
        if (c == '0') p.DecZeros = p.DecDigits;
      } else {
        ++p.IntDigits;
        if (c == '0') ++p.IntZeros;
      }
    } else if (c == '.' && !point && !p.Exponent) {
      point = true;
      p.HasPlaceholder = true;
    } else if (c == ',') {
      // Thousands separators are never written.
    } else if ((c == 'E' || c == 'e') && !p.Exponent && i + 1 < section.size() &&
               (section[i + 1] == '+' || section[i + 1] == '-')) {
      p.Exponent = inExponent = true;
      p.ExpLetter = c;
      p.ExpPlus = section[i + 1] == '+';
      ++i;
    } else {
      inExponent = false;
      literal(c);
    }
  }
  return p;
}

// The value as the picture rounds it (the same text read back).
double Rounded(double v, int decimals) { return TryParseDouble(FormatFixed(v, decimals)).value_or(v); }

// Digits of a non-negative value rounded to the picture, without literals.
std::string Digits(double v, const TPicture& p) {
  int exponent = 0;
  if (p.Exponent && v != 0) {
    const int intDigits = std::max(p.IntDigits, 1);
    exponent = static_cast<int>(std::floor(std::log10(v))) - (intDigits - 1);
    // Rounding may carry into one more integer digit: one step up then.
    const double scaled = Rounded(v / std::pow(10.0, exponent), p.DecDigits);
    if (scaled >= std::pow(10.0, intDigits)) ++exponent;
    v /= std::pow(10.0, exponent);
  }
  std::string text = FormatFixed(v, p.DecDigits);
  std::string intPart = text, decPart;
  if (const size_t dot = text.find('.'); dot != std::string::npos) {
    intPart = text.substr(0, dot);
    decPart = text.substr(dot + 1);
  }
  while (static_cast<int>(decPart.size()) > p.DecZeros && !decPart.empty() && decPart.back() == '0') decPart.pop_back();
  if (intPart == "0" && p.IntZeros == 0) intPart.clear();
  while (static_cast<int>(intPart.size()) < p.IntZeros) intPart.insert(intPart.begin(), '0');
  std::string out = intPart;
  if (!decPart.empty()) out += "." + decPart;
  if (out.empty()) out = "0";
  if (p.Exponent) {
    std::string e = std::to_string(std::abs(exponent));
    while (static_cast<int>(e.size()) < p.ExpDigits) e.insert(e.begin(), '0');
    out += p.ExpLetter;
    if (exponent < 0)
      out += '-';
    else if (p.ExpPlus)
      out += '+';
    out += e;
  }
  return out;
}

bool RoundsToZero(double v, const TPicture& p) {
  if (v == 0) return true;
  if (p.Exponent) return false;
  return Rounded(std::fabs(v), p.DecDigits) == 0;
}

}  // namespace

std::string FormatPicture(double value, std::string_view format) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (Trim(format).empty()) return FormatFloat(value);
  const std::vector<std::string> sections = SplitSections(format);
  const TPicture positive = Parse(sections[0]);
  if (sections.size() >= 3 && !sections[2].empty()) {
    const bool negativeSection = value < 0 && !sections[1].empty();
    if (RoundsToZero(value, negativeSection ? Parse(sections[1]) : positive)) {
      const TPicture zero = Parse(sections[2]);
      return zero.Prefix + (zero.HasPlaceholder ? Digits(0, zero) : "") + zero.Suffix;
    }
  }
  if (value < 0 && sections.size() >= 2 && !sections[1].empty()) {
    const TPicture negative = Parse(sections[1]);
    return negative.Prefix + (negative.HasPlaceholder ? Digits(-value, negative) : "") + negative.Suffix;
  }
  const std::string digits = positive.HasPlaceholder ? Digits(std::fabs(value), positive) : "";
  const bool minus = value < 0 && !RoundsToZero(value, positive);
  return (minus ? "-" : "") + positive.Prefix + digits + positive.Suffix;
}

}  // namespace OrlaqLidar
