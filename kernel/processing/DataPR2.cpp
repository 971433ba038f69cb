#include "kernel/processing/DataPR2.h"

namespace OrlaqLidar {

bool TDataPR2::Process(TManagedProfile* profile) {
  const int n = GateCount(*profile);
  double* signal = profile->Signal.data();
  const double* distance = profile->Distance.data();
  for (int i = 0; i < n; ++i) signal[i] *= distance[i] * distance[i];
  return true;
}

}  // namespace OrlaqLidar
