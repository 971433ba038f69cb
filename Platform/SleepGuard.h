#pragma once
// Decides when the computer must stay awake (told with every status
// tick) and holds the sleep lock for exactly that time. A lock the system
// refused is not asked for again until the need has ended, so that a
// machine without one is not asked twice a second.
#include "Platform/SleepInhibitor.h"

namespace OrlaqLidar {

class TSleepGuard {
 public:
  static constexpr const char* Reason = "Lidar laser on: acquisition running";

  // The inhibitor is not owned and may be null (no such service).
  explicit TSleepGuard(TSleepInhibitor* inhibitor) : inhibitor_(inhibitor) {}
  ~TSleepGuard();
  TSleepGuard(const TSleepGuard&) = delete;
  TSleepGuard& operator=(const TSleepGuard&) = delete;

  void Update(bool awakeNeeded);
  bool Held() const { return held_; }

 private:
  TSleepInhibitor* inhibitor_;
  bool held_ = false;
  bool refused_ = false;
};

}  // namespace OrlaqLidar
