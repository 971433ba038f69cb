#include "kernel/files/FileSyncer.h"

#include <unistd.h>

#include <cerrno>

namespace OrlaqLidar {

TFileSyncer::TFileSyncer(std::function<int(int fd)> sync)
    : sync_(sync ? std::move(sync) : [](int fd) { return ::fdatasync(fd); }), thread_([this] { Run(); }) {}

TFileSyncer::~TFileSyncer() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void TFileSyncer::Watch(int fd) {
  std::lock_guard lock(fdMutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

void TFileSyncer::Written() {
  {
    std::lock_guard lock(mutex_);
    dirty_ = true;
  }
  wake_.notify_one();
}

void TFileSyncer::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || dirty_; });
    if (stop_) return;
    dirty_ = false;
    lock.unlock();
    {
      // Writes made while this runs mark the file dirty again: the next
      // round syncs them.
      std::lock_guard fdLock(fdMutex_);
      if (fd_ >= 0) {
        // EINVAL: the file system cannot sync; the data is with the system anyway.
        if (sync_(fd_) != 0 && errno != EINVAL) error_ = errno;
        ++syncs_;
      }
    }
    lock.lock();
  }
}

}  // namespace OrlaqLidar
