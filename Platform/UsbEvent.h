#pragma once
// Auto-reset event shared by a USB driver and a reader thread: the driver
// signals it when characters arrive, the main thread when it has a request.
#include <condition_variable>
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

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace OrlaqLidar
