// Recording through crashes: a child process records the simulated
// instrument (real acquisition source, real recorder, virtual USB devices,
// the INS stream) and dies by SIGKILL, at a random moment, in the middle of
// a block write or in the middle of the repair of the file it reopens. The
// parent then checks that every block the child had written is still in
// the file, byte for byte and in order, that reopening the file for writing
// repairs it (and says so in the log), and that the next run of the same
// hour appends to that same file.
//
// The child reports over a pipe: each block before the recorder writes it
// (tag, channel, time, size, payload hash), a count of the blocks the
// recorder has returned from, the count reached at each fdatasync of the
// recorded file, and its log lines. Children are forked before the parent
// starts any thread and never return into the test framework.
//
// SKYVANE_CRASH_KILLS=<n> raises the number of random kills (soak run);
// SKYVANE_CRASH_SEED=<n> replays the choices of a logged run (the moments
// themselves depend on the machine's timing).
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/QtSocketFactory.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "Simulator/SimInsServer.h"
#include "Simulator/SimInstrument.h"
#include "kernel/Channel.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidFileAccess.h"
#include "kernel/LidarAcquisition.h"
#include "kernel/LidarRecorder.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- child side

enum class TCrashPoint : uint8_t {
  None,
  TearShot,        // the n-th shot block reaches the file half written, then the process dies
  BeforeTruncate,  // the repair has put its end mark but not yet cut the rest off
};

// Set in the child only; the parent's own file operations pass untouched.
int gReportFd = -1;
TCrashPoint gCrashPoint = TCrashPoint::None;
int gTearAtShot = 0;
int gShotWrites = 0;
std::atomic<uint64_t> gBlocksDone{0};

template <class F>
F RealFunction(const char* name) {
  void* p = ::dlsym(RTLD_NEXT, name);
  F f;
  static_assert(sizeof f == sizeof p);
  std::memcpy(&f, &p, sizeof f);
  return f;
}

// The path of a descriptor when it is a recorded file.
std::optional<std::string> RecordedFilePath(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buf[4096];
  const ssize_t n = ::readlink(link, buf, sizeof buf - 1);
  if (n <= 5) return std::nullopt;
  std::string path(buf, static_cast<size_t>(n));
  if (path.compare(path.size() - 5, 5, ".skv2") != 0) return std::nullopt;
  return path;
}

void PutU64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t GetU64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(p[i]);
  return v;
}

// One frame: length, type, payload; small enough for one atomic pipe write.
void Send(char type, const std::string& payload) {
  if (gReportFd < 0) return;
  const std::string body = type + payload.substr(0, 3000);
  std::string frame;
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>(body.size() >> (8 * i)));
  frame += body;
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::write(gReportFd, frame.data() + done, frame.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ::_exit(5);  // the parent is gone
    done += static_cast<size_t>(n);
  }
}

uint64_t Hash(const void* data, size_t size) {
  uint64_t h = 1469598103934665603ull;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

}  // namespace

// Every flush of a recorded file ends in fdatasync: the child reports each
// one after it returned, with the number of blocks done by then, so that
// the parent knows what must have survived whatever comes next.
extern "C" int fdatasync(int fd) {
  static const auto real = RealFunction<int (*)(int)>("fdatasync");
  const int rc = real(fd);
  if (rc == 0 && gReportFd >= 0) {
    if (const auto path = RecordedFilePath(fd)) {
      std::string payload;
      PutU64(payload, gBlocksDone.load());
      Send('F', payload + *path);
    }
  }
  return rc;
}

// A block goes to the file with one pwritev; the child can be made to die
// half-way through one, as a kill during a large write may leave it.
extern "C" ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  static const auto real = RealFunction<ssize_t (*)(int, const struct iovec*, int, off_t)>("pwritev");
  if (gCrashPoint == TCrashPoint::TearShot && count > 0 && iov[0].iov_len >= 4 &&
      std::memcmp(iov[0].iov_base, "SHT2", 4) == 0 && RecordedFilePath(fd) && ++gShotWrites == gTearAtShot) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += iov[i].iov_len;
    size_t keep = total / 2;
    std::vector<struct iovec> part;
    for (int i = 0; i < count && keep > 0; ++i) {
      const size_t n = std::min(keep, iov[i].iov_len);
      part.push_back({iov[i].iov_base, n});
      keep -= n;
    }
    real(fd, part.data(), static_cast<int>(part.size()), offset);
    ::kill(::getpid(), SIGKILL);
    ::pause();
  }
  return real(fd, iov, count, offset);
}

// The repair writes its end mark, then cuts off what follows; the child can
// be made to die in between.
extern "C" int ftruncate(int fd, off_t length) noexcept {
  static const auto real = RealFunction<int (*)(int, off_t)>("ftruncate");
  if (gCrashPoint == TCrashPoint::BeforeTruncate && RecordedFilePath(fd)) {
    ::kill(::getpid(), SIGKILL);
    ::pause();
  }
  return real(fd, length);
}

namespace {

// The child's clock: wall time starts where the parent says, so that every
// run records into the hour the parent expects whatever the real time is;
// the tick skips the delay a new channel waits before its first open.
class TRunClock : public TClock {
 public:
  explicit TRunClock(TDateTime start) : start_(start), origin_(std::chrono::steady_clock::now()) {}
  TDateTime NowUTC() const override {
    const auto elapsed = std::chrono::steady_clock::now() - origin_;
    return start_ + static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()) /
                        (MsPerDay * 1000.0);
  }
  uint64_t TickMs() const override { return system_.TickMs() + skipped_; }
  void Skip(uint64_t ms) { skipped_ += ms; }

 private:
  TDateTime start_;
  std::chrono::steady_clock::time_point origin_;
  TSystemClock system_;
  std::atomic<uint64_t> skipped_{0};  // read by the reader threads too
};

fs::path ShippedDefinition() { return OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini"; }

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The shipped instrument with its lasers ready at once.
bool LoadInstrument(TApplicationConfig& config, const fs::path& dataFolder) {
  TIniFile definition(ShippedDefinition().string());
  if (!config.LidarConfig.Load(definition)) return false;
  for (auto& [id, group] : config.LidarConfig.Groups) group->HeatingTime = 0;
  config.DefinitionText = ReadText(ShippedDefinition());
  config.DataFolder = dataFolder.string();
  config.AutoPower = true;
  return true;
}

void TagOf(const TApplicationConfig& config, int channel, std::array<char, 4>& tag) {
  switch (config.LidarConfig.ChannelType(channel)) {
    case TChannelType::Lidar: std::memcpy(tag.data(), "SHT2", 4); break;
    case TChannelType::Monitor: std::memcpy(tag.data(), "MON1", 4); break;
    default: std::memcpy(tag.data(), "OPT1", 4); break;
  }
}

std::string BlockFrame(const std::array<char, 4>& tag, int channel, TDateTime time, const void* data, size_t size) {
  std::string s(tag.data(), 4);
  PutU64(s, static_cast<uint64_t>(static_cast<int64_t>(channel)));
  uint64_t timeBits;
  std::memcpy(&timeBits, &time, sizeof timeBits);
  PutU64(s, timeBits);
  PutU64(s, size);
  PutU64(s, Hash(data, size));
  return s;
}

struct TChildPlan {
  fs::path DataFolder;
  fs::path SimFolder;
  TDateTime ClockStart = 0;
  TCrashPoint Crash = TCrashPoint::None;
  int TearAtShot = 0;
};

[[noreturn]] void ChildFails(const std::string& why) {
  Send('L', "child: " + why);
  ::_exit(4);
}

// Records until killed; never returns.
[[noreturn]] void RunChild(int reportFd, const TChildPlan& plan) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  ::alarm(75);  // a child the parent lost track of ends by itself
  gReportFd = reportFd;
  gCrashPoint = plan.Crash;
  gTearAtShot = plan.TearAtShot;
  try {
    static int argc = 1;
    static char name[] = "recording-child";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    TRunClock clock(plan.ClockStart);
    TApplicationConfig config;
    if (!LoadInstrument(config, plan.DataFolder)) ChildFails("the shipped instrument definition does not load");
    TSimInstrument sim(config.LidarConfig);
    if (!sim.Start(plan.SimFolder)) ChildFails("simulator: " + sim.LastError());
    TSimInsServer::TSettings insSettings;
    insSettings.Port = 0;
    TSimInsServer ins(insSettings);
    if (!ins.Start()) ChildFails("simulated INS: " + ins.LastError());
    config.Setup.AirinsAddr = "127.0.0.1";
    config.Setup.AirinsPort = std::to_string(ins.Port());
    std::string error;
    std::unique_ptr<TUsbDriver> usb = CreateUsbDriver("virtual:" + sim.DevicesFile().string(), error);
    if (!usb) ChildFails("virtual USB: " + error);
    TQtMainLoop loop;
    TQtSocketFactory sockets;
    TRecordingPrompt prompt;
    TScopedServices services(TServices{&clock, &loop, &prompt, usb.get(), &sockets});
    TErrorLogger::Instance().Reset();
    TErrorLogger::Instance().SetSink([](const std::string& line) { Send('L', line); });

    TLidarAcquisition source(&config, true);
    // Reported before the recorder sees it: a block is announced before it
    // can reach the file, and counted as done once the recorder returned.
    const int before = 0, after = 0;
    bool pending = false;
    source.AddDataConsumer(&before, [&](int channel, const uint8_t* data, int length, TDateTime time) {
      if (source.Status.PowerState() != TState::LaserOn) return;
      std::array<char, 4> tag;
      TagOf(config, channel, tag);
      Send('B', BlockFrame(tag, channel, time, data, length > 0 ? static_cast<size_t>(length) : 0));
      pending = true;
    });
    source.AddEventConsumer(&before, [&](int id, const std::string& code, TDateTime time, const std::string& text) {
      if (source.Status.PowerState() != TState::LaserOn) return;
      std::string payload = code.substr(0, 3);
      payload.resize(3, ' ');
      payload += text;
      Send('B', BlockFrame({'E', 'V', 'T', '1'}, id, time, payload.data(), payload.size()));
      pending = true;
    });
    TLidarRecorder recorder(&config);
    recorder.Attach(&source);
    auto done = [&] {
      if (!pending) return;
      pending = false;
      std::string payload;
      PutU64(payload, ++gBlocksDone);
      if (recorder.CurrentFile()) payload += recorder.CurrentFile()->FileName().string();
      Send('A', payload);
    };
    source.AddDataConsumer(&after, [&](int, const uint8_t*, int, TDateTime) { done(); });
    source.AddEventConsumer(&after, [&](int, const std::string&, TDateTime, const std::string&) { done(); });
    bool laserOnSent = false;
    source.AddStatusConsumer(
        &after,
        [&](TStatus*, TState::ChangeRaison) {
          if (laserOnSent || source.Status.PowerState() != TState::LaserOn) return;
          laserOnSent = true;
          Send('S', {});
        },
        0);

    if (!source.Open()) ChildFails("the acquisition source does not open");
    clock.Skip(TChannel::FirstOpenDelayMs);
    if (!source.Start()) ChildFails("the acquisition source does not start");
    loop.StartTimer(100, [&] { source.OnTimer(clock.NowUTC()); });
    loop.Run();
    ChildFails("the event loop ended");
  } catch (const std::exception& e) {
    ChildFails(std::string("exception: ") + e.what());
  } catch (...) {
    ChildFails("unknown exception");
  }
}

// ---------------------------------------------------------------- parent side

struct TBlock {
  std::array<char, 4> Tag{};
  int64_t Channel = 0;
  uint64_t TimeBits = 0;
  uint64_t Size = 0;
  uint64_t Hash = 0;
  bool operator==(const TBlock&) const = default;
};

std::string Describe(const TBlock& b) {
  double time;
  std::memcpy(&time, &b.TimeBits, sizeof time);
  std::ostringstream s;
  s << std::string(b.Tag.data(), 4) << " ch " << b.Channel << " at " << FormatDateTime(time) << " size " << b.Size
    << " hash " << std::hex << b.Hash;
  return s.str();
}

TBlock ParseBlock(const std::string& p) {
  TBlock b;
  std::memcpy(b.Tag.data(), p.data(), 4);
  b.Channel = static_cast<int64_t>(GetU64(p.data() + 4));
  b.TimeBits = GetU64(p.data() + 12);
  b.Size = GetU64(p.data() + 20);
  b.Hash = GetU64(p.data() + 28);
  return b;
}

enum class TKillAt { LaserOn, Recording, CrashPoint };

struct TRunPlan {
  TKillAt Kill = TKillAt::Recording;
  int DelayMs = 0;  // after the laser came on, or after the first block was done
  TCrashPoint Crash = TCrashPoint::None;
  int TearAtShot = 0;
  TDateTime ClockStart = 0;
};

struct TRunReport {
  bool LaserOn = false;
  std::vector<TBlock> Announced;  // in the order the recorder got them
  uint64_t Done = 0;              // blocks the recorder had returned from
  uint64_t Flushed = 0;           // blocks done at the last fdatasync of the file
  std::string File;               // as the recorder named it
  std::vector<std::string> Log;
  int WaitStatus = 0;

  std::string LogText() const {
    std::string s;
    for (const auto& l : Log) s += "\n    " + l;
    return s;
  }
  bool DiedOfSigkill() const { return WIFSIGNALED(WaitStatus) && WTERMSIG(WaitStatus) == SIGKILL; }
};

// What the reader makes of a file.
struct TFileState {
  bool Exists = false;
  int OpenResult = 0;
  std::vector<TBlock> Blocks;
  uint64_t Size = 0;
  uint64_t DataStart = 0;
  uint64_t EndOfBlocks = 0;  // just after the last whole block
  bool EndMark = false;
  // Read to an end mark that closes the file: nothing to repair.
  bool Whole() const { return EndMark && Size == EndOfBlocks + TLidFileAccess::HeaderBlockSize; }
};

struct TExpectedRepair {
  size_t Blocks = 0;
  uint64_t Lost = 0;
};

class RecordingCrashTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  RecordingCrashTest() {
    dataFolder_ = dir_ / "LidData";
    loaded_ = LoadInstrument(config_, dataFolder_);
  }

  void SetUp() override {
    ASSERT_TRUE(loaded_) << ShippedDefinition();
    const char* seed = std::getenv("SKYVANE_CRASH_SEED");
    seed_ = seed ? std::strtoull(seed, nullptr, 10) : std::random_device{}();
    rng_.seed(seed_);
    std::cout << "[          ] crash seed " << seed_ << " (SKYVANE_CRASH_SEED)" << std::endl;
    RecordProperty("crash_seed", std::to_string(seed_));
  }

  // Start of the child's clock for run i: one hour holds 40 runs of at most
  // 85 s of child time each.
  static TDateTime ClockStart(int run) {
    return EncodeDateTime(2026, 3, 14, 10, 0, 0) + (run / 40) / 24.0 + (run % 40) * 85.0 / SecondsPerDay;
  }

  // The file the recorder uses for a clock start (one per hour).
  fs::path FileOfHour(TDateTime clockStart) const {
    const TDateTimeParts p = DecodeDateTime(TLidarRecorder::SliceStart(clockStart));
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%04d%02d%02d_%02d%02d.skv2", p.Year, p.Month, p.Day, p.Hour, p.Minute);
    std::error_code ec;
    if (fs::is_directory(dataFolder_, ec))
      for (const auto& e : fs::recursive_directory_iterator(dataFolder_, ec)) {
        const std::string name = e.path().filename().string();
        if (name.size() > std::strlen(suffix) && name.ends_with(suffix)) return e.path();
      }
    return {};
  }

  TRunReport Run(const TRunPlan& plan, int run) {
    TRunReport report;
    TChildPlan child;
    child.DataFolder = dataFolder_;
    child.SimFolder = dir_ / ("sim" + std::to_string(run));
    child.ClockStart = plan.ClockStart;
    child.Crash = plan.Crash;
    child.TearAtShot = plan.TearAtShot;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return report;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      RunChild(fds[1], child);
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      ADD_FAILURE() << "fork: " << std::strerror(errno);
      return report;
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto deadline = start + std::chrono::seconds(40);
    std::optional<Clock::time_point> killAt;
    bool killed = false, timedOut = false;
    std::string buffer;
    char chunk[65536];
    for (;;) {
      const auto now = Clock::now();
      if (!killed && killAt && now >= *killAt) {
        ::kill(pid, SIGKILL);
        killed = true;
        deadline = now + std::chrono::seconds(10);
      }
      if (now >= deadline) {
        ::kill(pid, SIGKILL);
        timedOut = true;
        break;
      }
      auto until = deadline;
      if (!killed && killAt && *killAt < until) until = *killAt;
      const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
      pollfd p{fds[0], POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(waitMs, 0)));
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the child is gone
      buffer.append(chunk, static_cast<size_t>(n));
      while (buffer.size() >= 4) {
        const uint32_t length = static_cast<uint8_t>(buffer[0]) | static_cast<uint8_t>(buffer[1]) << 8 |
                                static_cast<uint8_t>(buffer[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(buffer[3])) << 24;
        if (buffer.size() < 4 + length) break;
        const char type = buffer[4];
        const std::string payload = buffer.substr(5, length - 1);
        buffer.erase(0, 4 + length);
        switch (type) {
          case 'S':
            report.LaserOn = true;
            if (plan.Kill == TKillAt::LaserOn && !killAt) killAt = Clock::now() + std::chrono::milliseconds(plan.DelayMs);
            break;
          case 'B': report.Announced.push_back(ParseBlock(payload)); break;
          case 'A':
            report.Done = GetU64(payload.data());
            if (payload.size() > 8) report.File = payload.substr(8);
            if (plan.Kill == TKillAt::Recording && !killAt)
              killAt = Clock::now() + std::chrono::milliseconds(plan.DelayMs);
            break;
          case 'F': report.Flushed = GetU64(payload.data()); break;
          case 'L': report.Log.push_back(payload); break;
          default: ADD_FAILURE() << "unknown report " << static_cast<int>(type); break;
        }
      }
    }
    ::close(fds[0]);
    // Reaped without waiting for ever: SIGKILL cannot be refused.
    const auto reapDeadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      const pid_t r = ::waitpid(pid, &report.WaitStatus, WNOHANG);
      if (r == pid || r < 0) break;
      if (Clock::now() >= reapDeadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &report.WaitStatus, 0);
        break;
      }
      ::usleep(10000);
    }
    if (timedOut)
      ADD_FAILURE() << "the child did not reach its crash point in time (laser on: " << report.LaserOn
                    << ", blocks done: " << report.Done << ")" << report.LogText();
    return report;
  }

  TFileState ReadFile(const fs::path& path) {
    TFileState state;
    std::error_code ec;
    state.Exists = fs::exists(path, ec);
    if (!state.Exists) return state;
    state.Size = fs::file_size(path, ec);
    TLidFileAccess file(path, config_);
    state.OpenResult = file.OpenForReading();
    if (state.OpenResult != 0) return state;
    std::vector<TBlock> handed;
    file.OnData = [&](int channel, const uint8_t* data, size_t size, TDateTime time) {
      TBlock b;
      b.Channel = channel;
      std::memcpy(&b.TimeBits, &time, sizeof b.TimeBits);
      b.Size = size;
      b.Hash = Hash(data, size);
      handed.push_back(b);
    };
    file.OnEvent = [&](int channel, const std::string& code, const std::string& text, TDateTime time) {
      const std::string payload = code + text;
      TBlock b;
      b.Channel = channel;
      std::memcpy(&b.TimeBits, &time, sizeof b.TimeBits);
      b.Size = payload.size();
      b.Hash = Hash(payload.data(), payload.size());
      handed.push_back(b);
    };
    file.Rewind();
    while (file.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) > 0) {
    }
    EXPECT_EQ(file.Index().size(), handed.size()) << path;
    uint64_t end = file.DataStart();
    for (size_t i = 0; i < handed.size() && i < file.Index().size(); ++i) {
      handed[i].Tag = file.Index()[i].Tag;
      EXPECT_EQ(file.Index()[i].Position, end) << "block " << i << " of " << path;
      end += handed[i].Size + TLidFileAccess::DataBlockOverhead;
    }
    state.Blocks = std::move(handed);
    state.DataStart = file.DataStart();
    state.EndOfBlocks = file.Position();
    state.EndMark = file.EndMarkReached();
    EXPECT_EQ(state.EndOfBlocks, end) << "the reader did not stop right after the last whole block of " << path;
    return state;
  }

  // Finds the recovery line of a repair among log lines and checks what it says.
  static void ExpectRecoveryLine(const std::vector<std::string>& log, const TExpectedRepair& expected,
                                 const std::string& who) {
    const std::string opening = "Recovery: File got new end of file mark after ";
    for (const auto& line : log) {
      const size_t at = line.find(opening);
      if (at == std::string::npos) continue;
      const std::string rest = line.substr(at + opening.size());
      EXPECT_EQ(rest.rfind(std::to_string(expected.Blocks) + " data block", 0), 0u)
          << who << ": " << line << "\n  expected " << expected.Blocks << " whole blocks";
      const size_t lost = rest.find("(lost ");
      if (lost != std::string::npos) {
        EXPECT_EQ(rest.substr(lost), "(lost " + std::to_string(expected.Lost) + " bytes)") << who << ": " << line;
      }
      return;
    }
    std::string all;
    for (const auto& l : log) all += "\n    " + l;
    ADD_FAILURE() << who << " repaired the file without the recovery line; log:" << all;
  }

  // Reopens the file for writing as the recorder would, and checks the repair.
  void RepairHere(const fs::path& path, const TFileState& before) {
    LogLines.clear();
    {
      TLidFileAccess file(path, config_);
      ASSERT_EQ(file.OpenForWriting(nullptr), 0) << path;
      file.Close();
    }
    bool announced = false;
    for (const auto& l : LogLines)
      if (l.find("File seems to be damaged, try to correct it...") != std::string::npos) announced = true;
    EXPECT_TRUE(announced) << "no damage announced for " << path;
    ExpectRecoveryLine(LogLines, {before.Blocks.size(), before.Size - before.EndOfBlocks}, "the reopening");
    const TFileState after = ReadFile(path);
    ASSERT_EQ(after.OpenResult, 0);
    EXPECT_TRUE(after.Whole()) << "still damaged after the repair: size " << after.Size << ", blocks end at "
                               << after.EndOfBlocks << ", end mark " << after.EndMark;
    EXPECT_TRUE(after.Blocks == before.Blocks) << "the repair changed the blocks it kept";
    ++parentRepairs_;
  }

  // Checks one run: what was kept before, then the child's blocks up to at
  // least the last one done, nothing else; damage repaired here or left
  // to the next child.
  void Check(const TRunPlan& plan, const TRunReport& report, int run, bool repairHere) {
    EXPECT_TRUE(report.DiedOfSigkill()) << "the child ended otherwise than by SIGKILL (wait status "
                                        << report.WaitStatus << ")" << report.LogText();
    ASSERT_LE(report.Done, report.Announced.size()) << "report out of step";
    ASSERT_LE(report.Announced.size(), report.Done + 1) << "report out of step";
    for (const auto& line : report.Log)
      if (line.find("skv2") != std::string::npos) ADD_FAILURE() << "run " << run << " logged: " << line;

    const fs::path path = FileOfHour(plan.ClockStart);
    if (!report.File.empty()) {
      EXPECT_EQ(fs::path(report.File), path) << "the recorder wrote elsewhere";
      if (!file_.empty()) {
        EXPECT_EQ(fs::path(report.File), file_) << "the run did not append to the hour's file";
      }
    }
    if (pendingRepair_ && report.Done > 0) {
      ExpectRecoveryLine(report.Log, *pendingRepair_, "the next recorder");
      ++recorderRepairs_;
    }
    if (report.Done > 0) pendingRepair_.reset();

    if (path.empty()) {
      EXPECT_EQ(report.Done, 0u) << "blocks were done but there is no file";
      EXPECT_TRUE(kept_.empty()) << "the hour's file disappeared";
      return;
    }
    file_ = path;
    const TFileState state = ReadFile(path);
    if (state.OpenResult != 0) {
      // Killed while the file was being created: nothing was in it yet.
      EXPECT_EQ(report.Done, 0u) << path << " unreadable: " << TLidFileAccess::ErrorText(state.OpenResult);
      EXPECT_TRUE(kept_.empty()) << path << " lost its recorded blocks: "
                                 << TLidFileAccess::ErrorText(state.OpenResult);
      return;
    }
    ASSERT_GE(state.Blocks.size(), kept_.size()) << "blocks of earlier runs are gone from " << path;
    for (size_t i = 0; i < kept_.size(); ++i)
      ASSERT_EQ(state.Blocks[i], kept_[i]) << "earlier block " << i << " changed: " << Describe(state.Blocks[i])
                                           << " instead of " << Describe(kept_[i]);
    const size_t added = state.Blocks.size() - kept_.size();
    EXPECT_GE(added, report.Flushed) << "blocks flushed to disk are missing";
    EXPECT_GE(added, report.Done) << "blocks the recorder had written are missing";
    EXPECT_LE(added, report.Announced.size()) << "blocks nobody wrote are in the file";
    for (size_t i = 0; i < added && i < report.Announced.size(); ++i)
      ASSERT_EQ(state.Blocks[kept_.size() + i], report.Announced[i])
          << "block " << i << " of the run: " << Describe(state.Blocks[kept_.size() + i]) << " instead of "
          << Describe(report.Announced[i]);
    blocksChecked_ += added;

    if (!state.Whole()) {
      ++damaged_;
      if (repairHere) {
        RepairHere(path, state);
      } else {
        pendingRepair_ = TExpectedRepair{state.Blocks.size(), state.Size - state.EndOfBlocks};
      }
    }
    kept_ = state.Blocks;
  }

  OrlaqLidar::Test::TTempDir dir_;
  fs::path dataFolder_;
  TApplicationConfig config_;
  bool loaded_ = false;
  uint64_t seed_ = 0;
  std::mt19937_64 rng_;

  // The hour's file and the blocks it must begin with.
  fs::path file_;
  std::vector<TBlock> kept_;
  std::optional<TExpectedRepair> pendingRepair_;
  size_t blocksChecked_ = 0;
  int damaged_ = 0;
  int parentRepairs_ = 0;
  int recorderRepairs_ = 0;
};

int KillCount() {
  const char* s = std::getenv("SKYVANE_CRASH_KILLS");
  const int n = s ? std::atoi(s) : 0;
  return n > 12 ? n : 12;
}

TEST_F(RecordingCrashTest, KilledAtRandomMomentsTheRecorderLosesNothingItWrote) {
  const int kills = KillCount();
  int hour = -1;
  for (int run = 0; run < kills; ++run) {
    TRunPlan plan;
    plan.ClockStart = ClockStart(run);
    const int choice = static_cast<int>(rng_() % 100);
    if (choice < 20) {
      // Around the opening (and repair) of the file.
      plan.Kill = TKillAt::LaserOn;
      plan.DelayMs = static_cast<int>(rng_() % 300);
    } else if (choice < 35) {
      plan.Kill = TKillAt::CrashPoint;
      plan.Crash = TCrashPoint::TearShot;
      plan.TearAtShot = 1 + static_cast<int>(rng_() % 30);
    } else {
      // Over two flush periods of steady recording.
      plan.Kill = TKillAt::Recording;
      plan.DelayMs = static_cast<int>(rng_() % 2200);
    }
    if (run / 40 != hour) {
      hour = run / 40;
      file_.clear();
      kept_.clear();
      pendingRepair_.reset();
    }
    SCOPED_TRACE("seed " + std::to_string(seed_) + ", run " + std::to_string(run) + ", kill " +
                 (plan.Kill == TKillAt::LaserOn     ? "after laser on"
                  : plan.Kill == TKillAt::Recording ? "while recording"
                                                    : "tearing shot " + std::to_string(plan.TearAtShot)) +
                 (plan.Kill == TKillAt::CrashPoint ? "" : " +" + std::to_string(plan.DelayMs) + " ms"));
    const TRunReport report = Run(plan, run);
    // Even runs leave the repair to the next recorder, odd ones repair here.
    Check(plan, report, run, run % 2 == 1);
    if (HasFatalFailure()) return;
  }
  // What is left is repaired and whole.
  if (!file_.empty()) {
    const TFileState last = ReadFile(file_);
    ASSERT_EQ(last.OpenResult, 0);
    if (!last.Whole()) RepairHere(file_, last);
  }
  std::cout << "[          ] " << kills << " kills, " << blocksChecked_ << " blocks checked, " << damaged_
            << " times damaged, " << parentRepairs_ << " repaired by the test, " << recorderRepairs_
            << " by the next recorder" << std::endl;
  EXPECT_GT(blocksChecked_, 0u);
}

TEST_F(RecordingCrashTest, AKillInsideABlockWriteAndAnotherInsideTheRepairLoseNothing) {
  // 1: the process dies with the 6th shot half written.
  TRunPlan tear;
  tear.Kill = TKillAt::CrashPoint;
  tear.Crash = TCrashPoint::TearShot;
  tear.TearAtShot = 6;
  tear.ClockStart = ClockStart(0);
  const TRunReport first = Run(tear, 0);
  Check(tear, first, 0, false);
  if (HasFatalFailure()) return;
  ASSERT_FALSE(file_.empty());
  ASSERT_TRUE(pendingRepair_) << "a half-written block left no damage";
  EXPECT_GT(pendingRepair_->Lost, 0u) << "the half-written block left nothing";
  EXPECT_EQ(first.Announced.size(), first.Done + 1) << "the torn block was not the last one announced";
  EXPECT_EQ(kept_.size(), first.Done);

  // 2: the next recorder dies in the middle of its repair, its end mark
  // written and the rest of the torn block not yet cut off.
  TRunPlan repair;
  repair.Kill = TKillAt::CrashPoint;
  repair.Crash = TCrashPoint::BeforeTruncate;
  repair.ClockStart = ClockStart(1);
  const TRunReport second = Run(repair, 1);
  EXPECT_EQ(second.Done, 0u);
  const std::vector<TBlock> keptBefore = kept_;
  Check(repair, second, 1, false);
  if (HasFatalFailure()) return;
  EXPECT_TRUE(kept_ == keptBefore) << "the interrupted repair changed the blocks";

  // 3: the next recorder repairs it for good and appends.
  TRunPlan append;
  append.Kill = TKillAt::Recording;
  append.DelayMs = 1500;
  append.ClockStart = ClockStart(2);
  const TRunReport third = Run(append, 2);
  EXPECT_GT(third.Done, 0u);
  Check(append, third, 2, true);
  if (HasFatalFailure()) return;
  EXPECT_GT(kept_.size(), keptBefore.size()) << "the third run appended nothing readable";

  // The file as a reader finds it in the end: whole, with every block.
  const TFileState last = ReadFile(file_);
  EXPECT_TRUE(last.Whole());
  EXPECT_TRUE(last.Blocks == kept_);
  EXPECT_GE(last.Blocks.size(), keptBefore.size() + third.Done);
}

}  // namespace
