#pragma once
// Programming errors that must not pass silently: raised as an exception
// carrying the failed expression, unit and line.
#include <string>

#include "kernel/LidarError.h"

namespace OrlaqLidar {

class EAssertionFailed : public ELidarError {
 public:
  using ELidarError::ELidarError;
};

[[noreturn]] void AssertionFailed(const char* expression, const char* unit, int line);

}  // namespace OrlaqLidar

#define SKV_ASSERT(cond, unit, line)                                      \
  do {                                                                    \
    if (!(cond)) ::OrlaqLidar::AssertionFailed(#cond, (unit), (line));    \
  } while (0)
