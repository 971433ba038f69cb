#pragma once
// Auto-reset event shared by a USB driver and a reader thread: the driver
// signals it when characters arrive, the main thread when it has a request.
#include <condition_variable>
#include <functional>
#include <mutex>

namespace OrlaqLidar {

class TUsbEvent {
 public:
  void Signal();
  // Waits up to timeoutMs for a signal; true when one came. The signal is
  // consumed (auto-reset).
  bool Wait(int timeoutMs);
  // Consumes a pending signal without waiting.
  bool TryWait();
  // Also called after every signal, on the signalling thread: wakes a
  // reader that has no thread of its own to wait here.
  void SetOnSignal(std::function<void()> fn);

 private:
  std::function<void()> onSignal_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace OrlaqLidar
