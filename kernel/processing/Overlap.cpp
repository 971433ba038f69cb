#include "kernel/processing/Overlap.h"

#include <algorithm>

namespace OrlaqLidar {

bool TOverlap::Process(TManagedProfile* profile) {
  const TCalibration* calibration = profile->Calibration;
  if (!calibration || calibration->OverlapState == TCalibration::StateNone) return true;
  const int table = static_cast<int>(std::min<size_t>(calibration->OverlapCount, calibration->OverlapInverse.size()));
  const int n = std::min(GateCount(*profile), table);
  double* signal = profile->Signal.data();
  const double* inverse = calibration->OverlapInverse.data();
  for (int i = 0; i < n; ++i) signal[i] *= inverse[i];
  return true;
}

}  // namespace OrlaqLidar
