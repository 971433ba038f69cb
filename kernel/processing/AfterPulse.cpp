#include "kernel/processing/AfterPulse.h"

#include <algorithm>

namespace OrlaqLidar {

bool TAfterPulse::Process(TManagedProfile* profile) {
  const TCalibration* calibration = profile->Calibration;
  if (!calibration || calibration->AfterPulseState == TCalibration::StateNone) return true;
  const int table = static_cast<int>(std::min<size_t>(calibration->AfterPulseCount, calibration->AfterPulse.size()));
  const int n = std::min(GateCount(*profile), table);
  double* signal = profile->Signal.data();
  const double* afterPulse = calibration->AfterPulse.data();
  // A NaN gate stays NaN through the subtraction.
  for (int i = 0; i < n; ++i) signal[i] -= afterPulse[i];
  return true;
}

}  // namespace OrlaqLidar
