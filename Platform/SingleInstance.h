#pragma once
// Tells the first copy of the program on a machine from the later ones: an
// advisory lock on a file named after the instance name, held until the
// process ends (the lock goes with the process, even after a crash).
#include <string>

namespace OrlaqLidar {

class TSingleInstance {
 public:
  // Folder of the lock file: $XDG_RUNTIME_DIR, else the temporary folder.
  explicit TSingleInstance(const std::string& name, const std::string& folder = DefaultFolder());
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // True when another process (or another holder in this one) has the lock.
  bool AlreadyExists() const { return alreadyExists_; }
  const std::string& LockPath() const { return path_; }

  static std::string DefaultFolder();

 private:
  int fd_ = -1;
  bool alreadyExists_ = false;
  std::string path_;
};

}  // namespace OrlaqLidar
