#pragma once
// Converts counts into the count rate the detector saw, corrected for its
// dead time and calibrated with its offset and scale.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TAdjustSensor : public TProcessing {
 public:
  explicit TAdjustSensor(TProcessingArgs* args) : TProcessing(args, "AdjustSensor") {}

  // False when the calibration's scale is 0.
  bool Process(TManagedProfile* profile) override;

  double IntegrationTime = 0;  // seconds
};

}  // namespace OrlaqLidar
