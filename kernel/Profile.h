#pragma once
// Handle on a TManagedProfile passed to profile consumers for the duration
// of one call; it owns nothing.
#include "kernel/ManagedProfile.h"

namespace OrlaqLidar {

class TProfile {
 public:
  explicit TProfile(TManagedProfile* profile) : profile_(profile) {}
  virtual ~TProfile() = default;

  TManagedProfile* Get() const { return profile_; }
  TManagedProfile* operator->() const { return profile_; }
  TManagedProfile& operator*() const { return *profile_; }
  explicit operator bool() const { return profile_ != nullptr; }

 private:
  TManagedProfile* profile_ = nullptr;
};

}  // namespace OrlaqLidar
