#include "kernel/processing/AdjustSensor.h"

#include <limits>

#include "kernel/processing/GateLoop.h"

namespace OrlaqLidar {

namespace {

SKV_GATE_LOOP void CorrectRates(double* signal, int n, double perSecond, double deadTime, double offset,
                                double perScale) {
  constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < n; ++i) {
    const double r = signal[i] * perSecond;
    const double d = 1.0 - deadTime * r;
    const double v = (r / d - offset) * perScale;
    const double positive = v < 0 ? 0.0 : v;
    // A saturated gate (or one already NaN) has no rate to give.
    signal[i] = d > 0 ? positive : NaN;
  }
}

}  // namespace

bool TAdjustSensor::Process(TManagedProfile* profile) {
  const TCalibration* calibration = profile->Calibration;
  if (!calibration || calibration->ApdState == TCalibration::StateNone) return true;
  IntegrationTime = static_cast<double>(profile->RecordShots) * profile->DoorTime;
  if (IntegrationTime == 0) return true;
  if (calibration->ApdScale == 0) return false;
  if (calibration->ApdFlag != 0) return true;

  // The divisions by the integration time and the scale are taken once per
  // shot; the products stay within a rounding unit of the quotients.
  const double perSecond = 1.0 / IntegrationTime;
  CorrectRates(profile->Signal.data(), GateCount(*profile), perSecond, calibration->DeadTime, calibration->ApdOffset,
               1.0 / calibration->ApdScale);
  return true;
}

}  // namespace OrlaqLidar
