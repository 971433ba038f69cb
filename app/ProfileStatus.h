#pragma once
// The profile piece of the headless status: a data manager of its own on
// the acquisition source, and for each lidar channel the start time of its
// last completed profile, the range-corrected signal at the cloud height
// and the range where that signal peaks, so that an operator without a
// window sees the processing chain working.
#include <functional>
#include <map>
#include <string>

#include "Common/DateTime.h"
#include "kernel/processing/DataManager.h"

namespace OrlaqLidar {

class TApplicationConfig;

class TProfileStatus {
 public:
  // Height of the cloud above the lidar (m) at a time, NaN under a clear
  // sky; known only when the sky is simulated.
  using TCloudHeight = std::function<double(TDateTime)>;

  // Processing code and profile time from the settings.
  TProfileStatus(TLidarManager& source, TApplicationConfig& config, TCloudHeight cloudHeight = nullptr);

  // Empty until a profile has been completed.
  std::string Line() const;

  TDataManager& Manager() { return manager_; }

 private:
  struct TLast {
    TDateTime Start = 0;
    double Cloud = 0;  // m, NaN: none
    double AtCloud = 0;
    double PeakRange = 0;
  };
  void Completed(const TManagedProfile& profile);

  TProcessingArgs args_;
  TDataManager manager_;
  TCloudHeight cloudHeight_;
  std::map<int, TLast> last_;
};

}  // namespace OrlaqLidar
