#pragma once
// A host side written by hand for the simulator tests: a plain Unix-socket
// (or loopback TCP) client that builds query frames and reads answers byte by byte, with
// bounded waits so a silent device fails a test instead of hanging it.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

namespace OrlaqLidar::Test {

inline uint8_t XorOf(const std::string& s) {
  uint8_t x = 0;
  for (char c : s) x ^= static_cast<uint8_t>(c);
  return x;
}

inline std::string Hex2(uint8_t v) {
  static const char* digits = "0123456789ABCDEF";
  return {digits[v >> 4], digits[v & 15]};
}

// STX, the command, ETX, then the XOR of those bytes as two hex digits.
inline std::string QueryFrame(const std::string& command) {
  std::string f = "\x02" + command + "\x03";
  return f + Hex2(XorOf(f));
}

struct TRawAnswer {
  bool Complete = false;
  std::string Prefix;   // bytes before the start marker
  std::string Payload;
  std::string Raw;      // from the start marker to the last checksum digit
  bool ChecksumOk = false;
};

class TRawClient {
 public:
  TRawClient() = default;
  explicit TRawClient(const std::filesystem::path& socket) { Connect(socket); }
  ~TRawClient() { Close(); }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connect(const std::filesystem::path& socket) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string p = socket.string();
    std::memcpy(addr.sun_path, p.c_str(), std::min(p.size() + 1, sizeof addr.sun_path - 1));
    return Open(AF_UNIX, &addr, sizeof addr);
  }
  bool ConnectTcp(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Open(AF_INET, &addr, sizeof addr);
  }
  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    closedByPeer_ = false;
  }

  bool Send(const std::string& bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  bool Ask(const std::string& command) { return Send(QueryFrame(command)); }

  // Waits up to timeoutMs for more bytes; false on time-out or close.
  bool Fill(int timeoutMs) {
    if (fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return false;
    char tmp[65536];
    const ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
    if (n <= 0) {
      closedByPeer_ = true;
      return false;
    }
    buffer_.append(tmp, static_cast<size_t>(n));
    return true;
  }

  // Reads one answer of the text or binary form; payloadLength, when known,
  // is trusted instead of searching the end marker.
  TRawAnswer Read(bool binary, int timeoutMs = 2000, std::optional<size_t> payloadLength = {}) {
    TRawAnswer a;
    const std::string start = binary ? std::string("\x02\xFF\xFF\xFF", 4) : std::string("\x02");
    const std::string end = binary ? std::string("\xFF\xFF\xFF\x03", 4) : std::string("\x03");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t s = buffer_.find(start);
      if (s != std::string::npos) {
        size_t e = std::string::npos;
        if (payloadLength) {
          if (buffer_.size() >= s + start.size() + *payloadLength + end.size()) e = s + start.size() + *payloadLength;
        } else {
          e = buffer_.find(end, s + start.size());
        }
        if (e != std::string::npos && buffer_.size() >= e + end.size() + 2) {
          const size_t stop = e + end.size() + 2;
          a.Prefix = buffer_.substr(0, s);
          a.Raw = buffer_.substr(s, stop - s);
          a.Payload = buffer_.substr(s + start.size(), e - s - start.size());
          const std::string digits = buffer_.substr(e + end.size(), 2);
          a.ChecksumOk = Hex2(XorOf(buffer_.substr(s, e + end.size() - s))) == digits;
          a.Complete = true;
          buffer_.erase(0, stop);
          return a;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) return a;
    }
  }

  // Reads until the buffer holds n bytes or the time is up.
  std::string ReadBytes(size_t n, int timeoutMs = 2000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (buffer_.size() < n) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) break;
    }
    const std::string out = buffer_.substr(0, std::min(n, buffer_.size()));
    buffer_.erase(0, out.size());
    return out;
  }

  // True when the device side closes the connection within the time.
  bool WaitClosed(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!closedByPeer_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      Fill(static_cast<int>(left.count()));
    }
    return true;
  }

  const std::string& Pending() const { return buffer_; }

 private:
  bool Open(int family, const void* addr, socklen_t length) {
    Close();
    fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd_, static_cast<const sockaddr*>(addr), length) == 0) return true;
    Close();
    return false;
  }

  int fd_ = -1;
  std::string buffer_;
  bool closedByPeer_ = false;
};

}  // namespace OrlaqLidar::Test
