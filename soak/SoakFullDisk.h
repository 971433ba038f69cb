#pragma once
// A full data folder without a special file system: while set, the
// process may not write a single byte to any file (the file-size limit is
// 0, so every write fails as it would on a full disk) and the signal such
// a write raises is ignored. Lifted on destruction.
#include <signal.h>
#include <sys/resource.h>

namespace OrlaqLidar {

class TSoakFullDisk {
 public:
  TSoakFullDisk() = default;
  ~TSoakFullDisk() { Set(false); }
  TSoakFullDisk(const TSoakFullDisk&) = delete;
  TSoakFullDisk& operator=(const TSoakFullDisk&) = delete;

  void Set(bool full) {
    if (full == full_) return;
    if (full) {
      getrlimit(RLIMIT_FSIZE, &saved_);
      savedHandler_ = signal(SIGXFSZ, SIG_IGN);
      rlimit none = saved_;
      none.rlim_cur = 0;
      setrlimit(RLIMIT_FSIZE, &none);
    } else {
      setrlimit(RLIMIT_FSIZE, &saved_);
      signal(SIGXFSZ, savedHandler_);
    }
    full_ = full;
  }
  bool Full() const { return full_; }

 private:
  bool full_ = false;
  rlimit saved_{};
  void (*savedHandler_)(int) = SIG_DFL;
};

}  // namespace OrlaqLidar
