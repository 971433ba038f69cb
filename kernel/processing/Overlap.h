#pragma once
// Corrects the incomplete overlap of laser beam and telescope field of view
// in the near range with the calibration's inverse overlap per gate.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TOverlap : public TProcessing {
 public:
  explicit TOverlap(TProcessingArgs* args) : TProcessing(args, "Overlap") {}

  bool Process(TManagedProfile* profile) override;
};

}  // namespace OrlaqLidar
