#pragma once
// The laser of one channel group, shared by the group's lidar boards: any
// of them may switch it, all of them see it. Thread-safe, since each board
// is served by its own thread.
#include <cstdint>
#include <mutex>

namespace OrlaqLidar {

class TSimLaser {
 public:
  // A laser nobody can switch (no channel of the group has laser commands)
  // runs all the time. watchdogMs > 0: the laser goes off when no query
  // reached the group for that long.
  TSimLaser(bool switchable, int watchdogMs);

  bool Switchable() const { return switchable_; }
  void SwitchOn(uint64_t nowUs);
  void SwitchOff();
  // Safety cut-out, as the watchdog does: the laser goes off until the
  // next switch-on; a laser that cannot be switched misses one query.
  void Trip();
  bool IsOn(uint64_t nowUs);
  // A query of the group arrived: feeds the watchdog.
  void Touch(uint64_t nowUs);
  // Monotonic microseconds of the last switch-on; 0 for a laser that
  // always runs.
  uint64_t OnSinceUs() const;

 private:
  void CheckWatchdog(uint64_t nowUs);

  mutable std::mutex mutex_;
  const bool switchable_;
  const int watchdogMs_;
  bool on_;
  uint64_t onSinceUs_ = 0;
  uint64_t lastTouchUs_ = 0;
};

}  // namespace OrlaqLidar
