#pragma once
// The quicklook's time grid: a column is a whole number of steps since
// 1970-01-01 00:00 UTC, so every panel and every run agree on where a
// profile lands.
#include <cstdint>

#include "Common/DateTime.h"

namespace OrlaqLidar {

struct TQuicklookGrid {
  static constexpr int DefaultStep = 60;          // seconds per column
  static constexpr int SliceSeconds = 3600;        // one slice holds an hour
  static constexpr int VisibleSpanSeconds = 86400; // the image covers a day

  // Whole Unix seconds of t; the microsecond keeps x:59.9999999 from
  // rounding down a whole second.
  static int64_t UnixSeconds(TDateTime t);
  // floor(Unix seconds / step).
  static int64_t ColumnIndex(TDateTime t, int step = DefaultStep);
  static TDateTime ColumnTime(int64_t column, int step = DefaultStep);
};

}  // namespace OrlaqLidar
