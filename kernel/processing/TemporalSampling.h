#pragma once
// Accumulates the shots of a profile: the accumulator keeps the laser-shot
// weighted sum per gate, the signal becomes the weighted mean.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TTemporalSampling : public TProcessing {
 public:
  explicit TTemporalSampling(TProcessingArgs* args) : TProcessing(args, "TemporalSampling") {}

  bool Process(TManagedProfile* profile) override;
};

}  // namespace OrlaqLidar
