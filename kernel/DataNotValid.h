#pragma once
// Raised when a record view is asked for a value it cannot give: the view
// is invalid, has no block, or its cursor is outside the record.
#include <string>

#include "kernel/LidarError.h"

namespace OrlaqLidar {

class EDataNotValid : public ELidarError {
 public:
  // unit and line name the place that raised it, for the caller's log line.
  EDataNotValid(std::string unit, int line)
      : ELidarError("Data not valids"), Unit(std::move(unit)), Line(line) {}

  std::string Unit;
  int Line;
};

}  // namespace OrlaqLidar
