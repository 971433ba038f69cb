#include "Export/ExportFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace OrlaqExport {

namespace {
std::string Origin(const char* step, int error) { return std::string(" (") + step + ": " + std::strerror(error) + ")"; }
}  // namespace

TExportFile::~TExportFile() { Close(); }

bool TExportFile::Create(const std::string& name, std::string& origin) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    origin = Origin("create", errno);
    return false;
  }
  ::close(fd);
  return true;
}

bool TExportFile::Open(const std::string& name, std::string& origin) {
  Close();
  int error = 0;
  const char* step = "open";
  for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
    const int fd = ::open(name.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      step = "open";
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return true;
    }
    error = errno;
    step = "lock";
    ::close(fd);
  }
  origin = Origin(step, error);
  return false;
}

void TExportFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

long long TExportFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool TExportFile::LastByte(char& c, std::string& origin) const {
  const long long size = Size();
  if (size <= 0) {
    origin = Origin("size", size < 0 ? errno : EINVAL);
    return false;
  }
  if (::pread(fd_, &c, 1, size - 1) != 1) {
    origin = Origin("read", errno);
    return false;
  }
  return true;
}

bool TExportFile::Append(std::string_view text, std::string& origin) {
  const long long before = Size();
  if (before < 0) {
    origin = Origin("size", errno);
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      origin = Origin("write", n < 0 ? errno : EIO);
      if (done > 0 && ::ftruncate(fd_, before) != 0) origin += Origin("truncate", errno);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace OrlaqExport
