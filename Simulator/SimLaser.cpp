#include "Simulator/SimLaser.h"

namespace OrlaqLidar {

TSimLaser::TSimLaser(bool switchable, int watchdogMs)
    : switchable_(switchable), watchdogMs_(watchdogMs), on_(!switchable) {}

void TSimLaser::SwitchOn(uint64_t nowUs) {
  std::lock_guard lock(mutex_);
  if (!on_) onSinceUs_ = nowUs;
  on_ = true;
  lastTouchUs_ = nowUs;
}

void TSimLaser::SwitchOff() {
  std::lock_guard lock(mutex_);
  if (switchable_) on_ = false;
}

void TSimLaser::Trip() {
  std::lock_guard lock(mutex_);
  on_ = false;
}

bool TSimLaser::IsOn(uint64_t nowUs) {
  std::lock_guard lock(mutex_);
  CheckWatchdog(nowUs);
  if (!switchable_ && !on_) {
    // Nobody could switch a tripped free-running laser back on: it restarts
    // by itself after reporting the cut-out once.
    on_ = true;
    onSinceUs_ = nowUs;
    return false;
  }
  return on_;
}

void TSimLaser::Touch(uint64_t nowUs) {
  std::lock_guard lock(mutex_);
  CheckWatchdog(nowUs);
  lastTouchUs_ = nowUs;
}

uint64_t TSimLaser::OnSinceUs() const {
  std::lock_guard lock(mutex_);
  return onSinceUs_;
}

void TSimLaser::CheckWatchdog(uint64_t nowUs) {
  if (on_ && switchable_ && watchdogMs_ > 0 && nowUs > lastTouchUs_ &&
      nowUs - lastTouchUs_ > static_cast<uint64_t>(watchdogMs_) * 1000)
    on_ = false;
}

}  // namespace OrlaqLidar
