#pragma once
// The operating system's lock against going to sleep, as a platform
// service: taken while the instrument must keep running unattended.
#include <string>

namespace OrlaqLidar {

class TSleepInhibitor {
 public:
  virtual ~TSleepInhibitor() = default;
  // Takes the lock; false when the system offers none or refuses it.
  virtual bool Acquire(const std::string& why) = 0;
  // Gives the lock back; nothing when none is held.
  virtual void Release() = 0;
};

}  // namespace OrlaqLidar
