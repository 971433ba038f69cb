#include "kernel/DailyLogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace OrlaqLidar {

namespace {

bool AppendWhole(const std::filesystem::path& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  // One write call: lines of two processes never mix.
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == text.size();
}

}  // namespace

TDailyLogFile::TDailyLogFile(std::string folder) : folder_(std::move(folder)) {}

std::filesystem::path TDailyLogFile::PathFor(TDateTime day) const {
  const TDateTimeParts p = DecodeDateTime(day);
  char name[32];
  std::snprintf(name, sizeof name, "Skyvane_%04d%02d%02d.log", p.Year, p.Month, p.Day);
  return std::filesystem::path(folder_) / name;
}

bool TDailyLogFile::Write(const std::string& line, TDateTime now) {
  if (folder_.empty()) return false;
  const std::filesystem::path path = PathFor(now);
  const std::string text = line + "\n";
  if (AppendWhole(path, text)) return true;
  // The folder may not exist yet, or have been removed meanwhile.
  std::error_code ec;
  std::filesystem::create_directories(folder_, ec);
  return !ec && AppendWhole(path, text);
}

}  // namespace OrlaqLidar
