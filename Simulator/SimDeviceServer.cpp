#include "Simulator/SimDeviceServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace OrlaqLidar {

namespace {

constexpr uint64_t RetryPlugUs = 100000;

std::string ErrnoText(const std::string& what, const std::filesystem::path& path) {
  return what + " " + path.string() + ": " + std::strerror(errno);
}

}  // namespace

TSimDeviceServer::TSimDeviceServer(TSimDevice& device, std::filesystem::path socketPath, double faultRate,
                                   uint64_t seed)
    : device_(device), path_(std::move(socketPath)), faultRate_(faultRate), faultRng_(seed) {}

TSimDeviceServer::~TSimDeviceServer() { Stop(); }

bool TSimDeviceServer::Start(std::string* error) {
  if (running_) return true;
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    return false;
  }
  if (!OpenListener(error)) {
    close(wakeFd_);
    wakeFd_ = -1;
    return false;
  }
  plugged_ = true;
  stop_ = false;
  running_ = true;
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void TSimDeviceServer::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    Wake();
    thread_.join();
  }
  running_ = false;
  CloseClient();
  CloseListener();
  plugged_ = false;
  if (wakeFd_ >= 0) close(wakeFd_);
  wakeFd_ = -1;
  // Nobody waits for commands any more.
  std::lock_guard lock(mutex_);
  commands_.clear();
  commandsDone_ = commandsQueued_;
  done_.notify_all();
}

void TSimDeviceServer::Wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void TSimDeviceServer::Call(const std::function<void()>& fn) {
  if (!running_ || std::this_thread::get_id() == thread_.get_id()) {
    fn();
    return;
  }
  std::unique_lock lock(mutex_);
  commands_.push_back(fn);
  const uint64_t ticket = ++commandsQueued_;
  Wake();
  done_.wait(lock, [&] { return commandsDone_ >= ticket; });
}

void TSimDeviceServer::RunCommands() {
  std::unique_lock lock(mutex_);
  while (!commands_.empty()) {
    auto fn = std::move(commands_.front());
    commands_.pop_front();
    lock.unlock();
    fn();
    lock.lock();
    ++commandsDone_;
    done_.notify_all();
  }
}

void TSimDeviceServer::DelayAnswers(int ms, int count) {
  std::lock_guard lock(mutex_);
  delayMs_ = ms;
  delayCount_ += count;
}

void TSimDeviceServer::DropAnswers(int count) {
  std::lock_guard lock(mutex_);
  dropCount_ += count;
}

void TSimDeviceServer::CorruptAnswers(int count) {
  std::lock_guard lock(mutex_);
  corruptCount_ += count;
}

void TSimDeviceServer::ReplaceAnswers(const std::string& payload, int count) {
  std::lock_guard lock(mutex_);
  replacePayload_ = payload;
  replaceCount_ += count;
}

void TSimDeviceServer::InjectGarbage(const std::string& bytes) {
  std::lock_guard lock(mutex_);
  garbage_ += bytes;
}

void TSimDeviceServer::SendNow(const std::string& bytes) {
  Call([&] {
    if (clientFd_ < 0) return;
    out_.push_back(bytes);
    Flush();
  });
}

void TSimDeviceServer::Unplug(int ms) {
  Call([&] {
    CloseClient();
    CloseListener();
    plugged_ = false;
    replugAtUs_ = ms > 0 ? TSimDevice::SteadyUs() + static_cast<uint64_t>(ms) * 1000 : 0;
  });
}

void TSimDeviceServer::Replug() {
  Call([&] {
    if (!plugged_) Plug();
  });
}

void TSimDeviceServer::Plug() {
  if (OpenListener(nullptr)) {
    plugged_ = true;
    replugAtUs_ = 0;
  } else {
    replugAtUs_ = TSimDevice::SteadyUs() + RetryPlugUs;
  }
}

bool TSimDeviceServer::OpenListener(std::string* error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string p = path_.string();
  if (p.size() >= sizeof addr.sun_path) {
    if (error) *error = "socket path too long: " + p;
    return false;
  }
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = ErrnoText("socket", path_);
    return false;
  }
  unlink(p.c_str());  // a socket file left by an earlier run
  if (bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    if (error) *error = ErrnoText("bind", path_);
    close(fd);
    return false;
  }
  listenFd_ = fd;
  return true;
}

void TSimDeviceServer::CloseListener() {
  if (listenFd_ < 0) return;
  close(listenFd_);
  listenFd_ = -1;
  unlink(path_.c_str());
}

void TSimDeviceServer::Accept() {
  const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  // A host that opens the device again while an older connection lingers
  // takes it over: the older one sees the device go away.
  CloseClient();
  clientFd_ = fd;
  connected_ = true;
  ++connections_;
}

void TSimDeviceServer::CloseClient() {
  if (clientFd_ >= 0) {
    shutdown(clientFd_, SHUT_RDWR);
    close(clientFd_);
    clientFd_ = -1;
  }
  connected_ = false;
  pending_.clear();
  out_.clear();
  outOffset_ = 0;
  device_.Reset();
}

void TSimDeviceServer::ReadClient(uint8_t* buffer, size_t size) {
  const ssize_t n = recv(clientFd_, buffer, size, 0);
  if (n > 0) {
    std::vector<TSimDevice::TAnswer> answers;
    device_.Receive(buffer, static_cast<size_t>(n), TSimDevice::SteadyUs(), answers);
    for (auto& a : answers) Queue(std::move(a));
  } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    CloseClient();  // the host closed the device
  }
}

void TSimDeviceServer::Queue(TSimDevice::TAnswer&& a) {
  {
    std::lock_guard lock(mutex_);
    if (dropCount_ > 0) {
      --dropCount_;
      ++answersDropped_;
      return;
    }
    if (replaceCount_ > 0) {
      --replaceCount_;
      a.Bytes = device_.Frame(replacePayload_, a.Binary);
    }
    if (corruptCount_ > 0) {
      --corruptCount_;
      device_.Corrupt(a);
    }
    if (delayCount_ > 0) {
      --delayCount_;
      a.DueUs += static_cast<uint64_t>(delayMs_) * 1000;
    }
    if (!garbage_.empty()) {
      a.Bytes.insert(0, garbage_);
      garbage_.clear();
    }
  }
  if (faultRate_ > 0 && faultRng_.Uniform() < faultRate_) {
    switch (faultRng_.Next() % 5) {
      case 0:
        ++answersDropped_;
        return;
      case 1:
        a.DueUs += 3000000;  // longer than the usual answer time-out
        break;
      case 2:
        device_.Corrupt(a);
        break;
      case 3: {
        std::string noise(1 + faultRng_.Next() % 24, '\0');
        for (char& c : noise) c = static_cast<char>(faultRng_.Next());
        a.Bytes.insert(0, noise);
        break;
      }
      default:
        a.Bytes = device_.Frame("eU", a.Binary);
        break;
    }
  }
  pending_.push_back(std::move(a));
}

void TSimDeviceServer::Flush() {
  while (!out_.empty() && clientFd_ >= 0) {
    const std::string& f = out_.front();
    const ssize_t n = send(clientFd_, f.data() + outOffset_, f.size() - outOffset_, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) CloseClient();
      return;
    }
    outOffset_ += static_cast<size_t>(n);
    if (outOffset_ == f.size()) {
      out_.pop_front();
      outOffset_ = 0;
    }
  }
}

void TSimDeviceServer::Loop() {
  std::vector<uint8_t> buffer(64 * 1024);
  while (!stop_) {
    RunCommands();
    if (stop_) break;
    uint64_t now = TSimDevice::SteadyUs();
    if (!plugged_ && replugAtUs_ != 0 && now >= replugAtUs_) Plug();

    // Answers leave in order, each with one send when it is due.
    while (!pending_.empty() && pending_.front().DueUs <= now) {
      out_.push_back(std::move(pending_.front().Bytes));
      pending_.pop_front();
      ++answersSent_;
    }
    if (!out_.empty()) Flush();

    int64_t waitUs = -1;
    if (!pending_.empty()) waitUs = static_cast<int64_t>(pending_.front().DueUs - now);
    if (!plugged_ && replugAtUs_ != 0) {
      const auto untilPlug = static_cast<int64_t>(replugAtUs_ > now ? replugAtUs_ - now : 0);
      waitUs = waitUs < 0 ? untilPlug : std::min(waitUs, untilPlug);
    }

    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {wakeFd_, POLLIN, 0};
    const int listenAt = listenFd_ >= 0 ? static_cast<int>(n) : -1;
    if (listenFd_ >= 0) fds[n++] = {listenFd_, POLLIN, 0};
    const int clientAt = clientFd_ >= 0 ? static_cast<int>(n) : -1;
    if (clientFd_ >= 0) fds[n++] = {clientFd_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
    timespec ts{};
    if (waitUs >= 0) {
      ts.tv_sec = static_cast<time_t>(waitUs / 1000000);
      ts.tv_nsec = static_cast<long>((waitUs % 1000000) * 1000);
    }
    const int r = ppoll(fds, n, waitUs >= 0 ? &ts : nullptr, nullptr);
    if (r <= 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &v, sizeof v);
    }
    if (listenAt >= 0 && (fds[listenAt].revents & POLLIN)) Accept();
    // Accept may have replaced the connection polled above.
    if (clientAt >= 0 && clientFd_ == fds[clientAt].fd) {
      const short ev = fds[clientAt].revents;
      if (ev & POLLOUT) Flush();
      if (clientFd_ >= 0 && (ev & (POLLIN | POLLHUP | POLLERR))) ReadClient(buffer.data(), buffer.size());
    }
  }
  CloseClient();
  CloseListener();
}

}  // namespace OrlaqLidar
