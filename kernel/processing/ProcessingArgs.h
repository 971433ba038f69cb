#pragma once
// The processing settings an owner of a data manager gives it: flags and
// profile time, and the instrument definition and setup they apply to.
#include "Config/ProcessingSetup.h"

namespace OrlaqLidar {

class TLidarConfig;
class TLidarSetup;

class TProcessingArgs {
 public:
  // A null definition or setup is replaced by the application's current one.
  TProcessingArgs(const TProcessingSetup& setup, TLidarConfig* definition, TLidarSetup* lidarSetup);
  virtual ~TProcessingArgs();
  TProcessingArgs(const TProcessingArgs&) = default;
  TProcessingArgs& operator=(const TProcessingArgs&) = default;

  // Same definition and setup objects, same flags and profile time.
  bool Equals(const TProcessingArgs& other) const;

  TProcessingSetup Setup;
  TLidarConfig* Definition = nullptr;  // not owned
  TLidarSetup* LidarSetup = nullptr;   // not owned
};

}  // namespace OrlaqLidar
