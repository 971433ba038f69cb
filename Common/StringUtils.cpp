#include "Common/StringUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace OrlaqLidar {

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), Upper);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), Lower);
  return r;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool StartsWithText(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

std::vector<std::string> SplitString(std::string_view s, char sep) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t pos = s.find(sep, start);
    if (pos == std::string_view::npos) {
      items.emplace_back(s.substr(start));
      return items;
    }
    items.emplace_back(s.substr(start, pos - start));
    start = pos + 1;
  }
}

std::optional<long long> TryParseInt64(std::string_view text) {
  const std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  const char* b = s.data();
  const char* e = s.data() + s.size();
  if (*b == '+') ++b;
  long long v = 0;
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e) return std::nullopt;
  return v;
}

std::optional<int> TryParseInt(std::string_view text) {
  auto v = TryParseInt64(text);
  if (!v || *v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<double> TryParseDouble(std::string_view text) {
  std::string s = Trim(text);
  if (s.empty()) return std::nullopt;
  std::replace(s.begin(), s.end(), ',', '.');
  const char* b = s.data();
  const char* e = s.data() + s.size();
  if (*b == '+') ++b;
  double v = 0;
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e) return std::nullopt;
  return v;
}

std::string FormatFloat(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general);
  (void)ec;
  return std::string(buf, p);
}

std::string FormatFixed(double v, int decimals) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[512];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (ec != std::errc()) return FormatFloat(v);
  return std::string(buf, p);
}

}  // namespace OrlaqLidar
