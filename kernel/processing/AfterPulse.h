#pragma once
// Subtracts the detector's afterpulse profile, gate by gate, as far as the
// calibration's table reaches.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TAfterPulse : public TProcessing {
 public:
  explicit TAfterPulse(TProcessingArgs* args) : TProcessing(args, "AfterPulse") {}

  bool Process(TManagedProfile* profile) override;
};

}  // namespace OrlaqLidar
