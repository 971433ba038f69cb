#include "kernel/processing/TemporalSampling.h"

#include <cmath>

#include "kernel/processing/GateLoop.h"

namespace OrlaqLidar {

namespace {

SKV_GATE_LOOP void Accumulate(double* signal, double* accumulator, int n, double weight, double perShot) {
  for (int i = 0; i < n; ++i) {
    const double s = signal[i];
    // Computed before the test so that the loop has no branch to vectorise around.
    const double weighted = s * weight;
    // A gate invalidated for this shot adds nothing but keeps the mean of the others.
    const double sum = accumulator[i] + (std::isnan(s) ? 0.0 : weighted);
    accumulator[i] = sum;
    signal[i] = sum * perShot;
  }
}

}  // namespace

bool TTemporalSampling::Process(TManagedProfile* profile) {
  profile->ShotRecords += 1;
  profile->LaserShots += profile->RecordShots;
  const double weight = static_cast<double>(profile->RecordShots);
  // One division per shot instead of one per gate; the product stays
  // within a rounding unit of the quotient.
  const double perShot = 1.0 / static_cast<double>(profile->LaserShots);
  Accumulate(profile->Signal.data(), profile->Accumulator.data(), GateCount(*profile), weight, perShot);
  return true;
}

}  // namespace OrlaqLidar
