#include "Platform/UsbEvent.h"

#include <chrono>

namespace OrlaqLidar {

void TUsbEvent::Signal() {
  std::function<void()> onSignal;
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    onSignal = onSignal_;
  }
  cv_.notify_all();
  if (onSignal) onSignal();
}

void TUsbEvent::SetOnSignal(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  onSignal_ = std::move(fn);
}

bool TUsbEvent::Wait(int timeoutMs) {
  std::unique_lock lock(mutex_);
  if (timeoutMs > 0)
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; });
  const bool was = signalled_;
  signalled_ = false;
  return was;
}

bool TUsbEvent::TryWait() { return Wait(0); }

}  // namespace OrlaqLidar
