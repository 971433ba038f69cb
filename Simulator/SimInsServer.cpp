#include "Simulator/SimInsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <system_error>
#include <vector>

namespace OrlaqLidar {

namespace {

constexpr double Pi = 3.14159265358979323846;
// A client that stops reading is dropped once this much is queued for it.
constexpr size_t MaxQueued = 64 * 1024;

void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

int32_t Coordinate(double degrees) { return static_cast<int32_t>(std::lround(degrees * -2147483648.0 / 180.0)); }

int16_t Angle(double degrees) {
  const long raw = std::lround(degrees * 32768.0 / 180.0);
  return static_cast<int16_t>(raw < -32768 ? -32768 : raw > 32767 ? 32767 : raw);
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::system_category().message(errno); }

struct TClient {
  int Fd;
  std::vector<uint8_t> Queue;
};

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

TSimInsServer::TSimInsServer() : TSimInsServer(TSettings{}) {}

TSimInsServer::TSimInsServer(TSettings settings) : settings_(std::move(settings)) {
  if (settings_.RateHz < 1) settings_.RateHz = 1;
  if (settings_.RateHz > 200) settings_.RateHz = 200;
}

TSimInsServer::~TSimInsServer() { Stop(); }

std::string TSimInsServer::LastError() const {
  std::lock_guard lock(errorMutex_);
  return lastError_;
}

uint16_t TSimInsServer::Checksum(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : (crc >> 1);
  }
  return static_cast<uint16_t>(~crc);
}

TSimInsServer::TFrame TSimInsServer::MakeFrame(const TSettings& s, TDateTime now, double elapsed, uint16_t status,
                                               bool badChecksum) {
  TFrame f{};
  f[0] = 0x71;
  // Time of day, whole seconds and hundredths.
  const double dayMs = std::floor((now - std::floor(now)) * MsPerDay + 0.5);
  const uint32_t centis = static_cast<uint32_t>(dayMs / 10.0) % 8640000u;
  PutU32(&f[1], centis / 100);
  f[5] = static_cast<uint8_t>(centis % 100);
  PutU32(&f[6], static_cast<uint32_t>(Coordinate(s.Latitude)));
  PutU32(&f[10], static_cast<uint32_t>(Coordinate(s.Longitude)));
  PutU32(&f[14], static_cast<uint32_t>(static_cast<int32_t>(std::lround(s.Altitude * 100.0))));
  // f[18], f[19] are not used. Velocities north, east, vertical: at rest.
  const double wr = 2 * Pi / (s.RollPeriod > 0 ? s.RollPeriod : 1);
  const double wp = 2 * Pi / (s.PitchPeriod > 0 ? s.PitchPeriod : 1);
  const double roll = s.RollAmplitude * std::sin(wr * elapsed);
  const double pitch = s.PitchAmplitude * std::sin(wp * elapsed + 0.7);
  const double heading = std::fmod(std::fmod(s.Heading, 360.0) + 360.0, 360.0);
  PutU16(&f[26], static_cast<uint16_t>(Angle(roll)));
  PutU16(&f[28], static_cast<uint16_t>(Angle(pitch)));
  PutU16(&f[30], static_cast<uint16_t>(std::lround(heading * 32768.0 / 180.0) & 0xFFFF));
  // Angular rates of roll and pitch, degrees a second; the heading holds.
  PutU16(&f[32], static_cast<uint16_t>(Angle(s.RollAmplitude * wr * std::cos(wr * elapsed))));
  PutU16(&f[34], static_cast<uint16_t>(Angle(s.PitchAmplitude * wp * std::cos(wp * elapsed + 0.7))));
  f[38] = static_cast<uint8_t>(status);
  f[39] = static_cast<uint8_t>(status >> 8);
  uint16_t crc = Checksum(&f[1], 39);
  if (badChecksum) crc ^= 0x5A5A;
  f[40] = static_cast<uint8_t>(crc);
  f[41] = static_cast<uint8_t>(crc >> 8);
  return f;
}

bool TSimInsServer::Start() {
  if (Running()) return true;
  auto fail = [this](const char* what) {
    {
      std::lock_guard lock(errorMutex_);
      lastError_ = ErrnoText(what);
    }
    CloseFd(listenFd_);
    CloseFd(wakeFds_[0]);
    CloseFd(wakeFds_[1]);
    return false;
  };
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return fail("socket");
  // A restart on the same port must not wait for old connections to time out.
  const int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  // A restart listens where the clients were told to connect.
  addr.sin_port = htons(port_ ? port_ : settings_.Port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return fail("bind");
  if (::listen(listenFd_, 4) != 0) return fail("listen");
  socklen_t len = sizeof addr;
  if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return fail("getsockname");
  port_ = ntohs(addr.sin_port);
  if (::pipe2(wakeFds_, O_CLOEXEC | O_NONBLOCK) != 0) return fail("pipe");
  {
    std::lock_guard lock(errorMutex_);
    lastError_.clear();
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

void TSimInsServer::Stop() {
  if (!thread_.joinable()) return;
  const char wake = 1;
  while (::write(wakeFds_[1], &wake, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  CloseFd(listenFd_);
  CloseFd(wakeFds_[0]);
  CloseFd(wakeFds_[1]);
}

void TSimInsServer::Run() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::microseconds(1000000 / settings_.RateHz);
  const auto start = Clock::now();
  auto next = start;
  uint64_t frameNo = 0;
  std::vector<TClient> clients;

  auto drop = [&](size_t i) {
    ::close(clients[i].Fd);
    clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    clients_ = static_cast<int>(clients.size());
  };
  // Sends what is queued; false when the client is gone.
  auto flush = [](TClient& c) {
    while (!c.Queue.empty()) {
      const ssize_t n = ::send(c.Fd, c.Queue.data(), c.Queue.size(), MSG_NOSIGNAL);
      if (n > 0) {
        c.Queue.erase(c.Queue.begin(), c.Queue.begin() + n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
  };

  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({wakeFds_[0], POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const TClient& c : clients)
      fds.push_back({c.Fd, static_cast<short>(POLLIN | (c.Queue.empty() ? 0 : POLLOUT)), 0});
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    const int rc = ::poll(fds.data(), fds.size(), wait > 0 ? static_cast<int>(wait) : 0);
    if (rc < 0 && errno != EINTR) break;
    if (rc > 0) {
      if (fds[0].revents) break;
      // Clients first, by index from the end, so that dropping keeps the
      // indexes of the others.
      for (size_t i = clients.size(); i-- > 0;) {
        const short ev = fds[i + 2].revents;
        bool gone = (ev & (POLLERR | POLLNVAL)) != 0;
        if (!gone && (ev & (POLLIN | POLLHUP))) {
          uint8_t sink[256];
          const ssize_t n = ::recv(clients[i].Fd, sink, sizeof sink, 0);
          gone = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        }
        if (!gone && (ev & POLLOUT)) gone = !flush(clients[i]);
        if (gone) drop(i);
      }
      if (fds[1].revents & POLLIN) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
          const int one = 1;
          ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
          clients.push_back({fd, {}});
          clients_ = static_cast<int>(clients.size());
        }
      }
    }
    const auto now = Clock::now();
    if (now < next) continue;
    next += period;
    // After a stall the stream goes on at its rate, without a burst.
    if (next < now) next = now + period;
    ++frameNo;
    const double elapsed = std::chrono::duration<double>(now - start).count();
    const TDateTime utc = settings_.Now ? settings_.Now() : SystemNowUTC();
    const bool bad = settings_.BadChecksumEvery > 0 && frameNo % static_cast<uint64_t>(settings_.BadChecksumEvery) == 0;
    const bool invalid = settings_.InvalidEvery > 0 && frameNo % static_cast<uint64_t>(settings_.InvalidEvery) == 0;
    const TFrame frame = MakeFrame(settings_, utc, elapsed, invalid ? 0x0001 : 0, bad);
    if (clients.empty()) continue;
    ++framesSent_;
    for (size_t i = clients.size(); i-- > 0;) {
      TClient& c = clients[i];
      c.Queue.insert(c.Queue.end(), frame.begin(), frame.end());
      if (c.Queue.size() > MaxQueued || !flush(c)) drop(i);
    }
  }
  for (TClient& c : clients) ::close(c.Fd);
  clients_ = 0;
}

}  // namespace OrlaqLidar
