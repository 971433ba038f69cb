#include "Common/SolarTime.h"

#include <cmath>
#include <numbers>

namespace OrlaqLidar {

namespace {
constexpr double Rad = std::numbers::pi / 180.0;
double SinD(double deg) { return std::sin(deg * Rad); }
}  // namespace

TSolarTime TSolarTime::At(TDateTime utc, double longitude, double latitude) {
  const TDateTimeParts p = DecodeDateTime(utc);
  const double n = std::floor(utc) - EncodeDateTime(p.Year, 1, 1) + 1;
  const double m = 357 + 0.9856 * n;
  const double c = 1.914 * SinD(m) + 0.02 * SinD(2 * m);
  const double l = c + 280 + 0.9856 * n;
  const double e = (c - 2.466 * SinD(2 * l) + 0.053 * SinD(4 * l)) / 15.0;  // hours
  const double decl = std::asin(0.3978 * SinD(l));
  const double cosH =
      (-0.01454 - SinD(latitude) * std::sin(decl)) / (std::cos(decl) * std::cos(latitude * Rad));
  // Polar day and polar night: the sun never sets, or never rises.
  const double h = cosH < -1 ? 180.0 : cosH > 1 ? 0.0 : std::acos(cosH) / Rad;
  const double halfDay = h / 15.0;
  TSolarTime s;
  s.Tst = utc - (e + longitude / 15.0) / 24.0;
  s.Sunrise = std::floor(utc) + (12 - halfDay) / 24.0;
  s.Sunset = std::floor(utc) + (12 + halfDay) / 24.0;
  constexpr double HalfHour = 30.0 / 1440.0;
  s.Day = s.Sunrise - HalfHour <= s.Tst && s.Tst <= s.Sunset + HalfHour;
  return s;
}

std::string TSolarTime::Text() const {
  return std::string(Day ? "[Day]" : "[Night]") + " TST " + FormatDateTime(Tst, false).substr(11);
}

}  // namespace OrlaqLidar
