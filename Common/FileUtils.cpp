#include "Common/FileUtils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace OrlaqLidar {

namespace fs = std::filesystem;

std::optional<std::string> ReadTextFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::optional<fs::path> MoveAsideNumbered(const fs::path& path, const std::string& suffix, std::string& error) {
  constexpr int kMaxNumber = 9999;
  for (int n = 0; n <= kMaxNumber; ++n) {
    fs::path target = path;
    target += suffix;
    if (n > 0) target += "." + std::to_string(n);
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return target;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
      // A file system that cannot refuse to replace: look first.
      std::error_code ec;
      if (fs::exists(fs::symlink_status(target, ec))) continue;
      if (std::rename(path.c_str(), target.c_str()) == 0) return target;
      err = errno;
    }
    if (err == EEXIST) continue;
    error = std::system_category().message(err);
    return std::nullopt;
  }
  error = "every numbered name is taken";
  return std::nullopt;
}

bool WriteFileAtomic(const fs::path& path, const std::string& data) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  fs::path tmp = path;
  tmp += ".tmp" + std::to_string(::getpid());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  if (!synced || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

fs::path BackupPath(const fs::path& path) {
  fs::path bak = path;
  bak.replace_extension(".bak");
  return bak;
}

bool MoveAsideToBackup(const fs::path& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == 0) return fs::remove(path, ec);
  const fs::path bak = BackupPath(path);
  fs::remove(bak, ec);
  fs::rename(path, bak, ec);
  return !ec;
}

bool ReplaceFileWithBackup(const fs::path& path, const std::string& data) {
  if (!MoveAsideToBackup(path)) return false;
  return WriteFileAtomic(path, data);
}

std::string StripTrailingSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}

}  // namespace OrlaqLidar
