#include "kernel/files/LidFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace OrlaqLidar {

namespace {

std::string ErrnoText(int err) { return std::system_category().message(err); }

TLidFileStream::TFaultHook& FaultHook() {
  static TLidFileStream::TFaultHook hook;
  return hook;
}

}  // namespace

void TLidFileStream::SetFaultHook(TFaultHook hook) { FaultHook() = std::move(hook); }

int TLidFileStream::InjectedFault(TCall call) const {
  const TFaultHook& hook = FaultHook();
  return hook ? hook(call, path_) : 0;
}

TLidFileStream::TLidFileStream(size_t bufferSize) : bufferSize_(std::max<size_t>(bufferSize, 64)) {}

TLidFileStream::~TLidFileStream() { Close(); }

bool TLidFileStream::CreateIfMissing(const std::filesystem::path& path) {
  int fd;
  do fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool TLidFileStream::Open(const std::filesystem::path& path, TMode mode) {
  Close();
  lastError_.clear();
  // Non-blocking so that a FIFO given by mistake cannot hang the open; it
  // is refused below like every other non-regular file.
  const int flags = (mode == TMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
  int fd;
  do fd = ::open(path.c_str(), flags);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    lastError_ = ErrnoText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    lastError_ = "not a regular file";
    ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!buffer_) buffer_.reset(new uint8_t[bufferSize_]);
  fd_ = fd;
  path_ = path;
  pos_ = 0;
  bufferStart_ = 0;
  bufferLength_ = 0;
  return true;
}

void TLidFileStream::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.reset();
  pos_ = 0;
  bufferStart_ = 0;
  bufferLength_ = 0;
}

void TLidFileStream::Fail(const std::string& what) const { throw EError(what); }

uint64_t TLidFileStream::Size() const {
  if (fd_ < 0) Fail("file not open");
  struct stat st {};
  if (::fstat(fd_, &st) != 0) Fail(ErrnoText(errno));
  return static_cast<uint64_t>(st.st_size);
}

bool TLidFileStream::Fill(size_t count) {
  if (fd_ < 0) Fail("file not open");
  const uint64_t end = bufferStart_ + bufferLength_;
  if (pos_ >= bufferStart_ && pos_ + count <= end) return true;
  if (pos_ >= bufferStart_ && pos_ < end) {
    // Keep the part already read and append behind it.
    const size_t keep = static_cast<size_t>(end - pos_);
    std::memmove(buffer_.get(), buffer_.get() + (pos_ - bufferStart_), keep);
    bufferLength_ = keep;
  } else {
    bufferLength_ = 0;
  }
  bufferStart_ = pos_;
  while (bufferLength_ < count) {
    const ssize_t n = ::pread(fd_, buffer_.get() + bufferLength_, bufferSize_ - bufferLength_,
                              static_cast<off_t>(bufferStart_ + bufferLength_));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      bufferLength_ = 0;
      Fail(ErrnoText(err));
    }
    if (n == 0) return false;
    bufferLength_ += static_cast<size_t>(n);
  }
  return true;
}

const uint8_t* TLidFileStream::ReadInPlace(size_t count) {
  if (count > bufferSize_) Fail("read larger than the buffer");
  if (!Fill(count)) Fail("unexpected end of file at position " + std::to_string(pos_));
  const uint8_t* p = buffer_.get() + (pos_ - bufferStart_);
  pos_ += count;
  return p;
}

void TLidFileStream::Read(void* dst, size_t count) {
  if (count <= bufferSize_) {
    std::memcpy(dst, ReadInPlace(count), count);
    return;
  }
  // Larger than the buffer: straight into the caller's memory.
  if (fd_ < 0) Fail("file not open");
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(pos_ + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(ErrnoText(errno));
    }
    if (n == 0) Fail("unexpected end of file at position " + std::to_string(pos_ + done));
    done += static_cast<size_t>(n);
  }
  pos_ += count;
}

uint8_t TLidFileStream::ReadU8() { return *ReadInPlace(1); }

uint32_t TLidFileStream::ReadU32() { return GetU32(ReadInPlace(4)); }

int32_t TLidFileStream::ReadI32() { return static_cast<int32_t>(ReadU32()); }

double TLidFileStream::ReadDouble() { return GetDouble(ReadInPlace(8)); }

void TLidFileStream::Invalidate(uint64_t from, uint64_t count) {
  const uint64_t end = bufferStart_ + bufferLength_;
  if (bufferLength_ && from < end && from + count > bufferStart_) bufferLength_ = 0;
}

void TLidFileStream::Write(const void* data, size_t count) { Write(data, count, nullptr, 0); }

void TLidFileStream::Write(const void* head, size_t headCount, const void* tail, size_t tailCount) {
  if (fd_ < 0) Fail("file not open");
  Invalidate(pos_, headCount + tailCount);
  iovec iov[2] = {{const_cast<void*>(head), headCount}, {const_cast<void*>(tail), tailCount}};
  int first = 0;
  const int parts = tailCount ? 2 : 1;
  uint64_t at = pos_;
  if (const int err = InjectedFault(TCall::Write)) Fail(ErrnoText(err));
  while (first < parts) {
    const ssize_t n = ::pwritev(fd_, iov + first, parts - first, static_cast<off_t>(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(ErrnoText(errno));
    }
    if (n == 0) Fail("nothing written");
    at += static_cast<uint64_t>(n);
    size_t left = static_cast<size_t>(n);
    while (first < parts && left >= iov[first].iov_len) {
      left -= iov[first].iov_len;
      ++first;
    }
    if (first < parts) {
      iov[first].iov_base = static_cast<uint8_t*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
  pos_ = at;
}

void TLidFileStream::Truncate(uint64_t size) {
  if (fd_ < 0) Fail("file not open");
  Invalidate(size, UINT64_MAX - size);
  if (const int err = InjectedFault(TCall::Truncate)) Fail(ErrnoText(err));
  int rc;
  do rc = ::ftruncate(fd_, static_cast<off_t>(size));
  while (rc != 0 && errno == EINTR);
  if (rc != 0) Fail(ErrnoText(errno));
}

TLidFileStream::TLink TLidFileStream::LinkState() const {
  if (fd_ < 0) Fail("file not open");
  struct stat opened {}, named {};
  if (::fstat(fd_, &opened) != 0) Fail(ErrnoText(errno));
  if (opened.st_nlink == 0) return TLink::Deleted;
  if (::stat(path_.c_str(), &named) != 0) return TLink::Elsewhere;
  return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino ? TLink::AtPath : TLink::Elsewhere;
}

int TLidFileStream::DuplicateDescriptor() const { return fd_ >= 0 ? ::fcntl(fd_, F_DUPFD_CLOEXEC, 0) : -1; }

void TLidFileStream::Sync() {
  if (fd_ < 0) Fail("file not open");
  if (const int err = InjectedFault(TCall::Sync)) Fail(ErrnoText(err));
  int rc;
  do rc = ::fdatasync(fd_);
  while (rc != 0 && errno == EINTR);
  // EINVAL: the file system cannot sync; the data is with the system anyway.
  if (rc != 0 && errno != EINVAL) Fail(ErrnoText(errno));
}

void TLidFileStream::PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void TLidFileStream::PutI32(std::vector<uint8_t>& out, int32_t v) { PutU32(out, static_cast<uint32_t>(v)); }

void TLidFileStream::PutDouble(std::vector<uint8_t>& out, double v) {
  const uint64_t bits = std::bit_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

uint32_t TLidFileStream::GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

double TLidFileStream::GetDouble(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
  return std::bit_cast<double>(bits);
}

}  // namespace OrlaqLidar
