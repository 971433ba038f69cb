#include "Common/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace OrlaqLidar {

namespace {
// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}
}  // namespace

TDateTime UnixToDateTime(double unixSeconds) { return unixSeconds / SecondsPerDay + UnixEpochDays; }

double DateTimeToUnix(TDateTime t) { return (t - UnixEpochDays) * SecondsPerDay; }

TDateTimeParts DecodeDateTime(TDateTime t) {
  TDateTimeParts p;
  if (!std::isfinite(t)) return p;
  const int64_t totalMs = static_cast<int64_t>(std::llround((t - UnixEpochDays) * MsPerDay));
  int64_t days = totalMs / 86400000;
  int64_t msOfDay = totalMs % 86400000;
  if (msOfDay < 0) {
    msOfDay += 86400000;
    --days;
  }
  CivilFromDays(days, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(msOfDay / 3600000);
  p.Minute = static_cast<int>(msOfDay / 60000 % 60);
  p.Second = static_cast<int>(msOfDay / 1000 % 60);
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  return p;
}

TDateTime EncodeDateTime(const TDateTimeParts& p) {
  const int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day));
  const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.Millisecond;
  return static_cast<double>(days) + UnixEpochDays + ms / MsPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  return EncodeDateTime(TDateTimeParts{year, month, day, hour, minute, second, ms});
}

std::string FormatDateTime(TDateTime t, bool withMilliseconds) {
  const TDateTimeParts p = DecodeDateTime(t);
  char buf[48];
  if (withMilliseconds)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second, p.Millisecond);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                  p.Second);
  return buf;
}

TDateTime SystemNowUTC() {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  return UnixToDateTime(static_cast<double>(us) / 1e6);
}

}  // namespace OrlaqLidar
