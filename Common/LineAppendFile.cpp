#include "Common/LineAppendFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "Common/TraceText.h"

namespace OrlaqLidar {

namespace {

// Errors that may clear by themselves: worth another try. A missing folder,
// a refused permission or a folder in the file's place will not, and
// waiting for them at every line would stall the window.
bool Passing(int error) {
  switch (error) {
    case EINTR:
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
    case EMFILE:
    case ENFILE:
    case ENOMEM:
      return true;
    default:
      return false;
  }
}

}  // namespace

TLineAppendFile::TLineAppendFile(std::filesystem::path path, TPause pause)
    : path_(std::move(path)), pause_(std::move(pause)) {
  if (!pause_) pause_ = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
}

bool TLineAppendFile::Append(const std::string& text, std::optional<TDateTime> localTime) const {
  if (path_.empty()) return false;
  std::string line = localTime ? TTraceText::FileStamp(*localTime) + text : text;
  line += "\r\n";
  int fd = -1;
  for (int attempt = 1; attempt <= OpenTries; ++attempt) {
    fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0 || !Passing(errno) || attempt == OpenTries) break;
    pause_(RetryPauseMs);
  }
  if (fd < 0) return false;
  // One write call per line: with O_APPEND the line lands whole at the end,
  // whoever else writes to the file.
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && done == line.size();
}

}  // namespace OrlaqLidar
