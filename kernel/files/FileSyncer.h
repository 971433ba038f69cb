#pragma once
// Puts what was written to a file on the disk from a thread of its own: the
// main thread never waits for the disk, and a power cut costs at most what
// was written while the last sync ran.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace OrlaqLidar {

class TFileSyncer {
 public:
  // sync puts a descriptor's data on the disk (fdatasync unless given):
  // 0, or -1 with errno set.
  explicit TFileSyncer(std::function<int(int fd)> sync = nullptr);
  ~TFileSyncer();
  TFileSyncer(const TFileSyncer&) = delete;
  TFileSyncer& operator=(const TFileSyncer&) = delete;

  // Takes over a descriptor of the file to keep synced (closed here); -1
  // stops watching. Waits for a sync of the previous file in progress.
  void Watch(int fd);
  // New data was written to the watched file.
  void Written();
  // Syncs done so far (tests).
  uint64_t Syncs() const { return syncs_.load(); }
  // The errno of a sync that failed since the last call, 0 when none did:
  // the owner reports it, the thread cannot.
  int TakeError() { return error_.exchange(0); }

 private:
  void Run();

  std::mutex mutex_;  // dirty_, stop_
  std::condition_variable wake_;
  bool dirty_ = false;
  bool stop_ = false;
  std::mutex fdMutex_;  // fd_: held while syncing it
  int fd_ = -1;
  std::atomic<uint64_t> syncs_{0};
  std::atomic<int> error_{0};
  std::function<int(int)> sync_;
  std::thread thread_;
};

}  // namespace OrlaqLidar
