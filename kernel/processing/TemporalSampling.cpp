#include "kernel/processing/TemporalSampling.h"

#include <cmath>

namespace OrlaqLidar {

bool TTemporalSampling::Process(TManagedProfile* profile) {
  profile->ShotRecords += 1;
  profile->LaserShots += profile->RecordShots;
  const double weight = static_cast<double>(profile->RecordShots);
  const double total = static_cast<double>(profile->LaserShots);
  const int n = GateCount(*profile);
  double* signal = profile->Signal.data();
  double* accumulator = profile->Accumulator.data();
  for (int i = 0; i < n; ++i) {
    const double s = signal[i];
    // A gate invalidated for this shot adds nothing but keeps the mean of the others.
    accumulator[i] += std::isnan(s) ? 0.0 : s * weight;
    signal[i] = accumulator[i] / total;
  }
  return true;
}

}  // namespace OrlaqLidar
