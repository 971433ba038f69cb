#include "kernel/processing/Processing.h"

#include <algorithm>

namespace OrlaqLidar {

int TProcessing::GateCount(const TManagedProfile& profile) {
  const size_t arrays = std::min({profile.Signal.size(), profile.Accumulator.size(), profile.Distance.size(),
                                  profile.Altitude.size()});
  return std::max(0, std::min(profile.ActiveDoors, static_cast<int>(arrays)));
}

}  // namespace OrlaqLidar
