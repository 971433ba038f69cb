#include "kernel/processing/AdjustSensor.h"

#include <limits>

namespace OrlaqLidar {

bool TAdjustSensor::Process(TManagedProfile* profile) {
  const TCalibration* calibration = profile->Calibration;
  if (!calibration || calibration->ApdState == TCalibration::StateNone) return true;
  IntegrationTime = static_cast<double>(profile->RecordShots) * profile->DoorTime;
  if (IntegrationTime == 0) return true;
  if (calibration->ApdScale == 0) return false;
  if (calibration->ApdFlag != 0) return true;

  const double t = IntegrationTime;
  const double deadTime = calibration->DeadTime;
  const double offset = calibration->ApdOffset;
  const double scale = calibration->ApdScale;
  constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
  const int n = GateCount(*profile);
  double* signal = profile->Signal.data();
  for (int i = 0; i < n; ++i) {
    const double r = signal[i] / t;
    const double d = 1.0 - deadTime * r;
    const double v = (r / d - offset) / scale;
    // A saturated gate (or one already NaN) has no rate to give.
    signal[i] = d > 0 ? (v < 0 ? 0.0 : v) : NaN;
  }
  return true;
}

}  // namespace OrlaqLidar
