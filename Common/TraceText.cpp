#include "Common/TraceText.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace OrlaqLidar {

std::string TTraceText::Render(const uint8_t* data, int length) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string out;
  if (!data || length <= 0) return out;
  out.reserve(static_cast<size_t>(length) + 8);
  bool inRun = false;
  for (int i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    const bool copied = b >= 32 && b <= 126 && b != '|';
    if (copied) {
      if (inRun) out += "]]";
      inRun = false;
      out += static_cast<char>(b);
      if (b == '%') out += '%';
    } else {
      if (!inRun) out += "[[";
      inRun = true;
      out += Hex[b >> 4];
      out += Hex[b & 0x0F];
    }
  }
  if (inRun) out += "]]";
  return out;
}

std::string TTraceText::Render(const std::string& bytes) {
  return Render(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

TDateTime TTraceText::ToLocal(TDateTime utc) {
  const double unixSeconds = DateTimeToUnix(utc);
  const double whole = std::floor(unixSeconds);
  const std::time_t t = static_cast<std::time_t>(whole);
  std::tm local{};
  if (!localtime_r(&t, &local)) return utc;
  return utc + static_cast<double>(local.tm_gmtoff) / SecondsPerDay;
}

std::string TTraceText::LineStamp(TDateTime local) {
  const TDateTimeParts p = DecodeDateTime(local);
  char s[40];
  std::snprintf(s, sizeof s, "%04d/%02d/%02d,%02d:%02d:%02d.%03d;", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                p.Second, p.Millisecond);
  return s;
}

std::string TTraceText::FileStamp(TDateTime local) {
  const TDateTimeParts p = DecodeDateTime(local);
  char s[40];
  std::snprintf(s, sizeof s, "%02d/%02d/%04d,%02d:%02d:%02d.%03d,", p.Day, p.Month, p.Year, p.Hour, p.Minute,
                p.Second, p.Millisecond);
  return s;
}

}  // namespace OrlaqLidar
