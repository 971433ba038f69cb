#pragma once
// Tells the first copy of the program from the later ones: an advisory lock
// on a file named after the instance name, held until the process ends (the
// lock goes with the process, even after a crash). The holder writes its
// process id into the file, so that a later copy can say who holds it.
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
  // True when this object holds the lock.
  bool Held() const { return fd_ >= 0 && !alreadyExists_; }
  const std::string& LockPath() const { return path_; }
  // Why the lock file could not be opened; empty when it could.
  const std::string& OpenError() const { return openError_; }
  // The process id written by the holder, 0 when unknown.
  long HolderPid() const;

  static std::string DefaultFolder();

 private:
  int fd_ = -1;
  bool alreadyExists_ = false;
  std::string path_;
  std::string openError_;
};

}  // namespace OrlaqLidar
