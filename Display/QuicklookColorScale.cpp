#include "Display/QuicklookColorScale.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

std::string TQuicklookColorScale::ChannelSection(int channel) { return std::string(Section) + std::to_string(channel); }

void TQuicklookColorScale::Load(const TCustomIniFile& store, int channel) {
  const std::string section = ChannelSection(channel);
  Manual = store.ReadBool(section, "ManualColorScale", false);
  const auto read = [&](const char* key, double def) {
    const auto v = TryParseDouble(store.ReadString(section, key, ""));
    return v && !std::isnan(*v) ? *v : def;
  };
  Max = read("ColorMaxScale", std::numeric_limits<double>::infinity());
  Min = read("ColorMinScale", -std::numeric_limits<double>::infinity());
}

void TQuicklookColorScale::Save(TCustomIniFile& store, int channel) const {
  const std::string section = ChannelSection(channel);
  store.WriteBool(section, "ManualColorScale", Manual);
  store.WriteString(section, "ColorMaxScale", FormatStored(Max));
  store.WriteString(section, "ColorMinScale", FormatStored(Min));
}

std::string TQuicklookColorScale::Label(double logValue) {
  if (!std::isfinite(logValue) || std::abs(logValue) >= 1e10) return "NoData";
  char buf[64];
  // to_chars, not printf: the label keeps "." whatever the locale.
  const auto r = std::to_chars(buf, buf + sizeof buf, FromLog(logValue), std::chars_format::general, 2);
  return std::string(buf, r.ptr);
}

double TQuicklookColorScale::ToLog(double value) { return std::log10(value * 1e6); }
double TQuicklookColorScale::FromLog(double logValue) { return std::pow(10.0, logValue - 6); }

std::string TQuicklookColorScale::FormatStored(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  if (v == 0) return "0.0E0";
  int e = static_cast<int>(std::floor(std::log10(std::abs(v))));
  double m = std::round(v / std::pow(10.0, e) * 1000.0) / 1000.0;
  if (std::abs(m) >= 10) {
    m /= 10;
    ++e;
  }
  std::string text = FormatFixed(m, 3);
  while (text.size() > 1 && text.back() == '0' && text[text.size() - 2] != '.') text.pop_back();
  return text + "E" + std::to_string(e);
}

std::optional<std::string> TQuicklookColorScale::Accept(const std::string& maxText, const std::string& minText,
                                                        bool manual) {
  const auto mx = TryParseDouble(maxText);
  const auto mn = TryParseDouble(minText);
  // The limits are logarithms: zero, negative or non-numbers have none.
  if (!mx || !mn || !(*mx > 0) || !(*mn > 0) || !std::isfinite(*mx) || !std::isfinite(*mn)) return NotPositiveText;
  if (!(*mx > *mn)) return RefusedText;
  Manual = manual;
  Max = ToLog(*mx);
  Min = ToLog(*mn);
  return std::nullopt;
}

}  // namespace OrlaqLidar
