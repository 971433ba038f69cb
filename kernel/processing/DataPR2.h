#pragma once
// Range-squared correction: the signal times the square of each gate's
// range, as computed for this shot.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TDataPR2 : public TProcessing {
 public:
  explicit TDataPR2(TProcessingArgs* args) : TProcessing(args, "PR2") {}

  bool Process(TManagedProfile* profile) override;
};

}  // namespace OrlaqLidar
