#pragma once
// Pieces shared by the benchmarks that run the instrument side for real:
// Qt's event loop, a clock that can skip the channels' first-open delay,
// a private folder for the simulator's sockets, a hand-written host that
// talks to a simulated device over its socket without any of the program's
// layers, and CPU time accounting per process and per thread.
#include <dirent.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>

#include "Common/StringUtils.h"
#include "Platform/Clock.h"
#include "Platform/Real/QtMainLoop.h"

namespace OrlaqLidar::Bench {

// An instrument definition with one group of 2048-gate x 4-byte lidar
// channels, warm-up 0 and no pause between shots: {name, USB, polarisation,
// HasLaserCmd} per channel.
struct TBenchChannel {
  const char* Name;
  const char* Usb;
  char Polarization;
  int HasLaserCmd;
};
inline std::string BenchDefinition(const std::string& title, std::initializer_list<TBenchChannel> channels) {
  std::string text = "[General]\nName=" + title + "\n[ChannelGroup1]\nGroupID=1\nHeatingTime=0\nPeriodMin=0\n";
  int n = 0;
  for (const TBenchChannel& c : channels) {
    ++n;
    text += "[Channel" + std::to_string(n) + "]\nRecordID=" + std::to_string(n) + "\nGroupID=1\nName=" + c.Name +
            "\nWaveLength=532\nPolarization=" + std::string(1, c.Polarization) + "\nUSB=" + c.Usb +
            "\nProtocol=LIDAR\nProtoOpt=30000,HW\nTimeOut=2000\nBufferLength=16464\nHasLaserCmd=" +
            std::to_string(c.HasLaserCmd) +
            "\nDoorsCount=2048\nDoorsByte=4\nDoorsTime=100\nInfoBytes=16\n"
            "CH1=NAME:Shots,O:0,B:32,S:0,CODE:SHOOT\n"
            "CH2=NAME:Detector temp.,U:degC,O:4,B:16,DIV:100,MIN:-5,WARNMIN:10,WARNMAX:30,MAX:40\n";
  }
  return text;
}

// Seconds of measurement: SKYVANE_BENCH_SECONDS when set, else the default.
inline double BenchSeconds(double fallback) {
  const char* s = std::getenv("SKYVANE_BENCH_SECONDS");
  if (!s || !*s) return fallback;
  const auto v = TryParseDouble(s);
  return v && *v > 0 ? *v : fallback;
}

inline double SecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A private temporary folder, removed at the end.
class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "skyvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TTempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// STX, the command, ETX, then the XOR of those bytes as two hex digits.
inline std::string QueryFrame(const std::string& command) {
  std::string f = "\x02" + command + "\x03";
  uint8_t x = 0;
  for (char c : f) x ^= static_cast<uint8_t>(c);
  static const char digits[] = "0123456789ABCDEF";
  f.push_back(digits[x >> 4]);
  f.push_back(digits[x & 15]);
  return f;
}

// The host side reduced to a blocking socket: write a query frame, read
// the answer's bytes. Every wait is bounded.
class TRawLink {
 public:
  explicit TRawLink(const std::filesystem::path& socket) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string p = socket.string();
    if (p.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~TRawLink() {
    if (fd_ >= 0) ::close(fd_);
  }
  TRawLink(const TRawLink&) = delete;
  TRawLink& operator=(const TRawLink&) = delete;

  bool Ok() const { return fd_ >= 0; }

  bool Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Exactly count bytes into buffer; false on time-out or a closed link.
  bool Receive(uint8_t* buffer, size_t count, int timeoutMs = 3000) {
    size_t got = 0;
    while (got < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t n = ::recv(fd_, buffer + got, count - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    return true;
  }

  // A text answer: up to and including ETX and its two checksum digits.
  bool ReceiveText(std::string& payload, int timeoutMs = 3000) {
    std::string all;
    uint8_t c = 0;
    while (all.empty() || all.back() != 0x03) {
      if (!Receive(&c, 1, timeoutMs)) return false;
      all.push_back(static_cast<char>(c));
    }
    uint8_t sum[2];
    if (!Receive(sum, 2, timeoutMs)) return false;
    const size_t stx = all.find('\x02');
    payload = stx == std::string::npos ? std::string() : all.substr(stx + 1, all.size() - stx - 2);
    return true;
  }

 private:
  int fd_ = -1;
};

// CPU seconds (user + system) of the whole process.
inline double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Identifiers of the threads of this process.
inline std::set<int> ThreadIds() {
  std::set<int> ids;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] >= '0' && e->d_name[0] <= '9') ids.insert(std::atoi(e->d_name));
    closedir(d);
  }
  return ids;
}

// CPU seconds used so far by the given threads of this process (those that
// ended meanwhile count no more).
inline double ThreadsCpuSeconds(const std::set<int>& ids) {
  static const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  double total = 0;
  for (int id : ids) {
    std::ifstream in("/proc/self/task/" + std::to_string(id) + "/stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    // Fields after the command name in parentheses, which may hold blanks.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::stoull(field);
      if (i == 15) stime = std::stoull(field);
    }
    total += static_cast<double>(utime + stime) / ticks;
  }
  return total;
}

}  // namespace OrlaqLidar::Bench
