#include "Platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace OrlaqLidar {

std::string TSingleInstance::DefaultFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && std::filesystem::is_directory(runtime)) return runtime;
  return std::filesystem::temp_directory_path().string();
}

TSingleInstance::TSingleInstance(const std::string& name, const std::string& folder)
    : path_((std::filesystem::path(folder) / (name + ".lock")).string()) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // Another user's lock file can still be locked through a read-only open:
  // a service and a desktop session must see each other.
  if (fd_ < 0 && errno == EACCES) fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  // A lock file we cannot open leaves us the first instance: refusing to
  // acquire because /tmp is odd would be worse than two acquisitions.
  if (fd_ < 0) {
    openError_ = std::strerror(errno);
    return;
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    alreadyExists_ = true;
    return;
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
    // Only the holder's name is lost; the lock stands.
  }
}

TSingleInstance::~TSingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

long TSingleInstance::HolderPid() const {
  if (fd_ < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  return std::strtol(text, nullptr, 10);
}

}  // namespace OrlaqLidar
