#pragma once
// Date-time values as the rest of the program sees them: days since
// 1899-12-30 with the time of day as fraction, always UTC.
#include <cstdint>
#include <string>

namespace OrlaqLidar {

using TDateTime = double;

constexpr double UnixEpochDays = 25569.0;
constexpr double SecondsPerDay = 86400.0;
constexpr double MsPerDay = 86400000.0;

TDateTime UnixToDateTime(double unixSeconds);
double DateTimeToUnix(TDateTime t);

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Rounded to the millisecond, so that 10:59:59.9999 decodes as 11:00:00.000.
TDateTimeParts DecodeDateTime(TDateTime t);
TDateTime EncodeDateTime(const TDateTimeParts& p);
TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int ms = 0);

// The one text form used wherever a "standard date-time form" is written:
// "2026-12-06 21:43:53"; with milliseconds "2026-12-06 21:43:53.123".
std::string FormatDateTime(TDateTime t, bool withMilliseconds = true);

// Current UTC time from the system clock (the platform clock wraps this).
TDateTime SystemNowUTC();

}  // namespace OrlaqLidar
