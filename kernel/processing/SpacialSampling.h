#pragma once
// Loads the gate counts of the new shot into the profile's working signal
// and sets the laser shots the shot stands for.
#include "kernel/LidarData.h"
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TSpacialSampling : public TProcessing {
 public:
  // The shot-counter field is looked up on the shot unless the caller
  // already knows it (FindShotField), which spares the look-up per shot.
  static constexpr int FieldUnknown = -2;
  static constexpr int NoField = -1;

  TSpacialSampling(TProcessingArgs* args, TLidarData* shot, int shotField = FieldUnknown)
      : TProcessing(args, "SpacialSampling"), Shot(shot), shotField_(shotField) {}

  bool Process(TManagedProfile* profile) override;

  // Index of the first information field whose option "CODE" is "SHOOT", or NoField.
  static int FindShotField(const TChannelConfig& channel);

  TLidarData* Shot;  // not owned

 private:
  double LaserShotsOfRecord();

  int shotField_;
};

}  // namespace OrlaqLidar
