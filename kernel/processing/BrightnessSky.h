#pragma once
// Removes the sky background: the mean signal over a window at the far end
// of the profile, given as fractions of its length by the calibration.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TBrightnessSky : public TProcessing {
 public:
  explicit TBrightnessSky(TProcessingArgs* args) : TProcessing(args, "BrightnessSky") {}

  // False, with background 0, when the window holds no gate.
  bool Process(TManagedProfile* profile) override;

  double WindowEnd = 0.99;
  double WindowStart = 0.9;
};

}  // namespace OrlaqLidar
