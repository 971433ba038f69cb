#include "kernel/processing/ProcessingArgs.h"

#include "kernel/LidarApplication.h"

namespace OrlaqLidar {

TProcessingArgs::TProcessingArgs(const TProcessingSetup& setup, TLidarConfig* definition, TLidarSetup* lidarSetup)
    : Setup(setup), Definition(definition), LidarSetup(lidarSetup) {
  if (!Definition) Definition = &TLidarApplication::GetInstance()->Config.LidarConfig;
  if (!LidarSetup) LidarSetup = &TLidarApplication::GetInstance()->Config.Setup;
}

TProcessingArgs::~TProcessingArgs() {
  Definition = nullptr;
  LidarSetup = nullptr;
}

bool TProcessingArgs::Equals(const TProcessingArgs& other) const {
  return Definition == other.Definition && LidarSetup == other.LidarSetup &&
         Setup.Processings == other.Setup.Processings && Setup.ProfileTime == other.Setup.ProfileTime;
}

}  // namespace OrlaqLidar
