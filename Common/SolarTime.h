#pragma once
// True solar time, sunrise and sunset at a site, with the simple almanac
// formulas that are good to a minute or two: enough to tell day from night
// in the status bar.
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

struct TSolarTime {
  TDateTime Tst = 0;      // true solar time
  TDateTime Sunrise = 0;  // in the same day count as Tst
  TDateTime Sunset = 0;
  bool Day = false;       // within half an hour of the sun being up

  // longitude in degrees, negative east; latitude in degrees, negative south.
  static TSolarTime At(TDateTime utc, double longitude, double latitude);
  // "[Day] TST hh:nn:ss" or "[Night] TST hh:nn:ss".
  std::string Text() const;
};

}  // namespace OrlaqLidar
