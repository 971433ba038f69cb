#pragma once
// The verdict on a soak run's figures: nothing lost outside the fault
// windows, every fault recovered from, every hour with the laser on in a
// valid file, memory and descriptors flat.
#include <string>
#include <vector>

#include "soak/SoakFigures.h"

namespace OrlaqLidar {

struct TSoakLimits {
  // Resident memory may grow this much from the baseline (allocator
  // caches); 20 bytes kept a second are 12 MB in a week.
  long ResidentGrowthKb = 4 * 1024;
  // Descriptors are counted exactly: one more is a leak.
  int DescriptorGrowth = 0;
};

class TSoakCheck {
 public:
  // One line per failure; empty when the run passes.
  static std::vector<std::string> Failures(const TSoakFigures& figures, const TSoakLimits& limits = {});
};

}  // namespace OrlaqLidar
