#include "kernel/processing/BrightnessSky.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

namespace {
// Whole part of a gate position; a fraction read from a damaged file
// (NaN, huge) must not become an undefined conversion.
int WholeGate(double position) {
  if (std::isnan(position)) return 0;
  return static_cast<int>(std::clamp(std::trunc(position), -1e9, 1e9));
}
}  // namespace

bool TBrightnessSky::Process(TManagedProfile* profile) {
  if (const TCalibration* calibration = profile->Calibration) {
    WindowEnd = calibration->BackgroundEnd;
    WindowStart = calibration->BackgroundStart;
  }
  const int n = GateCount(*profile);
  const int end = std::min(WholeGate(n * WindowEnd), n);
  const int start = WholeGate(n * WindowStart);
  if (end == start) {
    profile->Background = 0;
    return false;
  }
  const double background = profile->SumSignal(start, end) / static_cast<double>(end - start);
  double* signal = profile->Signal.data();
  for (int i = 0; i < n; ++i) signal[i] -= background;
  profile->Background = background;
  return true;
}

}  // namespace OrlaqLidar
