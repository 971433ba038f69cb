#include "Platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace OrlaqLidar {

std::string TSingleInstance::DefaultFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && std::filesystem::is_directory(runtime)) return runtime;
  return std::filesystem::temp_directory_path().string();
}

TSingleInstance::TSingleInstance(const std::string& name, const std::string& folder)
    : path_((std::filesystem::path(folder) / (name + ".lock")).string()) {
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // A lock file we cannot open leaves us the first instance: refusing to
  // acquire because /tmp is odd would be worse than two acquisitions.
  if (fd_ < 0) return;
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) alreadyExists_ = true;
}

TSingleInstance::~TSingleInstance() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace OrlaqLidar
