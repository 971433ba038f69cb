// Recording through crashes: a child process records the simulated
// instrument (real acquisition source, real recorder, virtual USB devices,
// the INS stream) and dies by SIGKILL, at a random moment, in the middle of
// a block write or in the middle of the repair of the file it reopens. The
// parent then checks that every block the child had written is still in
// the file, byte for byte and in order, that reopening the file for writing
// repairs it (and says so in the log), and that the next run of the same
// hour appends to that same file.
//
// The child reports over a pipe: each block before the recorder writes it,
// a count of the blocks the recorder has returned from, the count reached
// at each fdatasync of the recorded file, and its log lines. Children are
// forked before the parent starts any thread and never return into the
// test framework.
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
#include <cstring>
#include <optional>
#include <random>
#include <sstream>

#include "Common/FileUtils.h"
#include "Config/ApplicationConfig.h"
#include "Platform/Real/QtSocketFactory.h"
#include "Platform/Real/UsbBackend.h"
#include "Simulator/SimInsServer.h"
#include "Simulator/SimInstrument.h"
#include "kernel/comm/Channel.h"
#include "kernel/ErrorLogger.h"
#include "kernel/files/LidFileAccess.h"
#include "kernel/LidarAcquisition.h"
#include "kernel/files/LidarRecorder.h"
#include "tests/kernel/LiveLoop.h"

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
  char buf[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
  const std::string path(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (!path.ends_with(".skv2")) return std::nullopt;
  return path;
}

// Plain values go through the pipe as their bytes: both ends are one binary.
template <class T>
std::string Bytes(const T& v) {
  return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}
template <class T>
T FromBytes(const std::string& s) {
  T v{};
  std::memcpy(&v, s.data(), std::min(sizeof v, s.size()));
  return v;
}

// One frame: length, type, payload; small enough for one atomic pipe write.
void Send(char type, const std::string& payload) {
  if (gReportFd < 0) return;
  const std::string body = type + payload.substr(0, 3000);
  const std::string frame = Bytes(static_cast<uint32_t>(body.size())) + body;
  for (size_t done = 0; done < frame.size();) {
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

// A block as the reader hands it back; the child announces the same.
struct TBlock {
  std::array<char, 4> Tag{};
  int64_t Channel = 0;
  double Time = 0;
  uint64_t Size = 0;
  uint64_t Hash = 0;
  bool operator==(const TBlock&) const = default;
};

TBlock MakeBlock(const char* tag, int channel, TDateTime time, const void* data, size_t size) {
  TBlock b;
  std::memcpy(b.Tag.data(), tag, 4);
  b.Channel = channel;
  b.Time = time;
  b.Size = size;
  b.Hash = Hash(data, size);
  return b;
}

}  // namespace

// Every flush of a recorded file ends in fdatasync: the child reports each
// one after it returned, with the number of blocks done by then, so that
// the parent knows what must have survived whatever comes next.
extern "C" int fdatasync(int fd) {
  static const auto real = RealFunction<int (*)(int)>("fdatasync");
  const int rc = real(fd);
  if (rc == 0 && gReportFd >= 0)
    if (const auto path = RecordedFilePath(fd)) Send('F', Bytes(gBlocksDone.load()) + *path);
  return rc;
}

// A block goes to the file with one pwritev; the child can be made to die
// half-way through one, as a kill during a large write may leave it.
extern "C" ssize_t pwritev(int fd, const struct iovec* iov, int count, off_t offset) {
  static const auto real = RealFunction<ssize_t (*)(int, const struct iovec*, int, off_t)>("pwritev");
  if (gCrashPoint == TCrashPoint::TearShot && count > 0 && iov[0].iov_len >= 4 &&
      std::memcmp(iov[0].iov_base, "SHT2", 4) == 0 && RecordedFilePath(fd) && ++gShotWrites == gTearAtShot) {
    size_t keep = 0;
    for (int i = 0; i < count; ++i) keep += iov[i].iov_len;
    keep /= 2;
    std::vector<struct iovec> part;
    for (int i = 0; i < count && keep > 0; ++i) {
      part.push_back({iov[i].iov_base, std::min(keep, iov[i].iov_len)});
      keep -= part.back().iov_len;
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
// the tick can skip the delay a new channel waits before its first open.
class TRunClock : public TSkippableClock {
 public:
  explicit TRunClock(TDateTime start) : shift_(start - TSkippableClock::NowUTC()) {}
  TDateTime NowUTC() const override { return TSkippableClock::NowUTC() + shift_; }

 private:
  TDateTime shift_;
};

// The shipped instrument with its lasers ready at once.
bool LoadInstrument(TApplicationConfig& config, const fs::path& dataFolder) {
  TIniFile definition(Test::ShippedDefinitionPath().string());
  if (!config.LidarConfig.Load(definition)) return false;
  for (auto& [id, group] : config.LidarConfig.Groups) group->HeatingTime = 0;
  config.DefinitionText = ReadTextFile(Test::ShippedDefinitionPath()).value_or("");
  config.DataFolder = dataFolder.string();
  config.AutoPower = true;
  return true;
}

enum class TKillAt { LaserOn, Recording, CrashPoint };

struct TRunPlan {
  TKillAt Kill = TKillAt::Recording;
  int DelayMs = 0;  // after the laser came on, or after the first block was done
  TCrashPoint Crash = TCrashPoint::None;
  int TearAtShot = 0;
  TDateTime ClockStart = 0;
};

[[noreturn]] void ChildFails(const std::string& why) {
  Send('L', "child: " + why);
  ::_exit(4);
}

// Records until killed; never returns.
[[noreturn]] void RunChild(int reportFd, const TRunPlan& plan, const fs::path& dataFolder, const fs::path& simFolder) {
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
    if (!LoadInstrument(config, dataFolder)) ChildFails("the shipped instrument definition does not load");
    TSimInstrument sim(config.LidarConfig);
    if (!sim.Start(simFolder)) ChildFails("simulator: " + sim.LastError());
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
    // Announced before the recorder sees it, counted as done once the
    // recorder returned: a block is announced before it can reach the file.
    const int before = 0, after = 0;
    bool pending = false;
    auto announce = [&](const TBlock& b) {
      if (source.Status.PowerState() != TState::LaserOn) return;
      Send('B', Bytes(b));
      pending = true;
    };
    source.AddDataConsumer(&before, [&](int channel, const uint8_t* data, int length, TDateTime time) {
      const TChannelType type = config.LidarConfig.ChannelType(channel);
      const char* tag = type == TChannelType::Lidar ? "SHT2" : type == TChannelType::Monitor ? "MON1" : "OPT1";
      announce(MakeBlock(tag, channel, time, data, length > 0 ? static_cast<size_t>(length) : 0));
    });
    source.AddEventConsumer(&before, [&](int id, const std::string& code, TDateTime time, const std::string& text) {
      std::string payload = code.substr(0, 3);
      payload.resize(3, ' ');
      payload += text;
      announce(MakeBlock("EVT1", id, time, payload.data(), payload.size()));
    });
    TLidarRecorder recorder(&config);
    recorder.Attach(&source);
    auto done = [&] {
      if (!pending) return;
      pending = false;
      Send('A', Bytes(++gBlocksDone) + (recorder.CurrentFile() ? recorder.CurrentFile()->FileName().string() : ""));
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

std::string Describe(const TBlock& b) {
  std::ostringstream s;
  s << std::string(b.Tag.data(), 4) << " ch " << b.Channel << " at " << FormatDateTime(b.Time) << " size " << b.Size
    << " hash " << std::hex << b.Hash;
  return s.str();
}

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
};

// What the reader makes of a file.
struct TFileState {
  int OpenResult = 0;
  std::vector<TBlock> Blocks;
  uint64_t Size = 0;
  uint64_t EndOfBlocks = 0;  // just after the last whole block
  bool EndMark = false;
  // Read to an end mark that closes the file: nothing to repair.
  bool Whole() const { return EndMark && Size == EndOfBlocks + TLidFileAccess::HeaderBlockSize; }
};

struct TExpectedRepair {
  size_t Blocks = 0;
  uint64_t Lost = 0;
};

class RecordingCrashTest : public Test::TSimulatedTime {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadInstrument(config_, dataFolder_)) << OrlaqLidar::Test::ShippedDefinitionPath();
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

  // Forks a recording child, follows its reports and kills it as planned.
  TRunReport Run(const TRunPlan& plan, int run) {
    TRunReport report;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return report;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      RunChild(fds[1], plan, dataFolder_, dir_ / ("sim" + std::to_string(run)));
    }
    ::close(fds[1]);
    if (pid < 0) {
      ::close(fds[0]);
      ADD_FAILURE() << "fork: " << std::strerror(errno);
      return report;
    }

    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::seconds(40);
    std::optional<Clock::time_point> killAt;
    bool killed = false, timedOut = false;
    auto killIn = [&](int ms) {
      if (!killAt) killAt = Clock::now() + std::chrono::milliseconds(ms);
    };
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
      const auto until = !killed && killAt ? std::min(*killAt, deadline) : deadline;
      pollfd p{fds[0], POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(
                                       std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count(), 0)));
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the child is gone
      buffer.append(chunk, static_cast<size_t>(n));
      while (buffer.size() >= 4 && buffer.size() >= 4 + FromBytes<uint32_t>(buffer)) {
        const uint32_t length = FromBytes<uint32_t>(buffer);
        const char type = buffer[4];
        const std::string payload = buffer.substr(5, length - 1);
        buffer.erase(0, 4 + length);
        switch (type) {
          case 'S':
            report.LaserOn = true;
            if (plan.Kill == TKillAt::LaserOn) killIn(plan.DelayMs);
            break;
          case 'B': report.Announced.push_back(FromBytes<TBlock>(payload)); break;
          case 'A':
            report.Done = FromBytes<uint64_t>(payload);
            if (payload.size() > 8) report.File = payload.substr(8);
            if (plan.Kill == TKillAt::Recording) killIn(plan.DelayMs);
            break;
          case 'F': report.Flushed = FromBytes<uint64_t>(payload); break;
          case 'L': report.Log.push_back(payload); break;
          default: ADD_FAILURE() << "unknown report " << static_cast<int>(type); break;
        }
      }
    }
    ::close(fds[0]);
    // Reaped without waiting for ever: SIGKILL cannot be refused.
    for (int i = 0; ::waitpid(pid, &report.WaitStatus, WNOHANG) == 0; ++i) {
      if (i == 1000) {
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
    state.Size = fs::file_size(path, ec);
    TLidFileAccess file(path, config_);
    state.OpenResult = file.OpenForReading();
    if (state.OpenResult != 0) return state;
    file.OnData = [&](int channel, const uint8_t* data, size_t size, TDateTime time) {
      state.Blocks.push_back(MakeBlock("????", channel, time, data, size));
    };
    file.OnEvent = [&](int channel, const std::string& code, const std::string& text, TDateTime time) {
      const std::string payload = code + text;
      state.Blocks.push_back(MakeBlock("????", channel, time, payload.data(), payload.size()));
    };
    file.Rewind();
    while (file.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) > 0) {
    }
    EXPECT_EQ(file.Index().size(), state.Blocks.size()) << path;
    uint64_t end = file.DataStart();
    for (size_t i = 0; i < state.Blocks.size() && i < file.Index().size(); ++i) {
      state.Blocks[i].Tag = file.Index()[i].Tag;
      EXPECT_EQ(file.Index()[i].Position, end) << "block " << i << " of " << path;
      end += state.Blocks[i].Size + TLidFileAccess::DataBlockOverhead;
    }
    state.EndOfBlocks = file.Position();
    state.EndMark = file.EndMarkReached();
    EXPECT_EQ(state.EndOfBlocks, end) << "the reader did not stop right after the last whole block of " << path;
    return state;
  }

  // Finds the recovery line of a repair among log lines and checks what it says.
  static void ExpectRecoveryLine(const std::vector<std::string>& log, const TExpectedRepair& expected,
                                 const std::string& who) {
    const std::string opening = "Recovery: File got new end of file mark after ";
    std::string all;
    for (const auto& line : log) {
      all += "\n    " + line;
      const size_t at = line.find(opening);
      if (at == std::string::npos) continue;
      const std::string rest = line.substr(at + opening.size());
      EXPECT_TRUE(rest.starts_with(std::to_string(expected.Blocks) + " data block"))
          << who << ": " << line << "\n  expected " << expected.Blocks << " whole blocks";
      const size_t lost = rest.find("(lost ");
      if (lost != std::string::npos) {
        EXPECT_EQ(rest.substr(lost), "(lost " + std::to_string(expected.Lost) + " bytes)") << who << ": " << line;
      }
      return;
    }
    ADD_FAILURE() << who << " repaired the file without the recovery line; log:" << all;
  }

  // Reopens the file for writing as the recorder would, and checks the repair.
  void RepairHere(const fs::path& path, const TFileState& before) {
    LogLines.clear();
    ASSERT_EQ(TLidFileAccess(path, config_).OpenForWriting(nullptr), 0) << path;
    bool announced = false;
    for (const auto& l : LogLines)
      announced |= l.find("File seems to be damaged, try to correct it...") != std::string::npos;
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
    EXPECT_TRUE(WIFSIGNALED(report.WaitStatus) && WTERMSIG(report.WaitStatus) == SIGKILL)
        << "the child ended otherwise than by SIGKILL (wait status " << report.WaitStatus << ")" << report.LogText();
    ASSERT_LE(report.Done, report.Announced.size()) << "report out of step";
    ASSERT_LE(report.Announced.size(), report.Done + 1) << "report out of step";
    for (const auto& line : report.Log) {
      // A file killed while its header was being written is a damaged one
      // to the next recorder, which moves it aside.
      if (halfMade_ && line.find("> moved aside to <") != std::string::npos) continue;
      if (line.find("skv2") != std::string::npos) ADD_FAILURE() << "run " << run << " logged: " << line;
    }
    halfMade_ = false;

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
      const std::string why = TLidFileAccess::ErrorText(state.OpenResult);
      EXPECT_EQ(report.Done, 0u) << path << " unreadable: " << why;
      EXPECT_TRUE(kept_.empty()) << path << " lost its recorded blocks: " << why;
      halfMade_ = true;
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

    // What the next recorder must repair follows from the file as it is now:
    // a run killed before its first block may have repaired it already.
    pendingRepair_.reset();
    if (!state.Whole()) {
      ++damaged_;
      if (repairHere)
        RepairHere(path, state);
      else
        pendingRepair_ = TExpectedRepair{state.Blocks.size(), state.Size - state.EndOfBlocks};
    }
    kept_ = state.Blocks;
  }

  OrlaqLidar::Test::TTempDir dir_;
  fs::path dataFolder_ = dir_ / "LidData";
  TApplicationConfig config_;
  uint64_t seed_ = 0;
  std::mt19937_64 rng_;

  // The hour's file and the blocks it must begin with.
  fs::path file_;
  std::vector<TBlock> kept_;
  std::optional<TExpectedRepair> pendingRepair_;
  bool halfMade_ = false;  // the last run was killed while making the file
  size_t blocksChecked_ = 0;
  int damaged_ = 0, parentRepairs_ = 0, recorderRepairs_ = 0;
};

TEST_F(RecordingCrashTest, KilledAtRandomMomentsTheRecorderLosesNothingItWrote) {
  const char* killsText = std::getenv("SKYVANE_CRASH_KILLS");
  const int kills = std::max(12, killsText ? std::atoi(killsText) : 0);
  for (int run = 0; run < kills; ++run) {
    TRunPlan plan;
    plan.ClockStart = ClockStart(run);
    const int choice = static_cast<int>(rng_() % 100);
    std::string what;
    if (choice < 20) {
      // Around the opening (and repair) of the file.
      plan.Kill = TKillAt::LaserOn;
      plan.DelayMs = static_cast<int>(rng_() % 300);
      what = "after laser on +" + std::to_string(plan.DelayMs) + " ms";
    } else if (choice < 35) {
      plan.Kill = TKillAt::CrashPoint;
      plan.Crash = TCrashPoint::TearShot;
      plan.TearAtShot = 1 + static_cast<int>(rng_() % 30);
      what = "tearing shot " + std::to_string(plan.TearAtShot);
    } else {
      // Over two flush periods of steady recording.
      plan.DelayMs = static_cast<int>(rng_() % 2200);
      what = "while recording +" + std::to_string(plan.DelayMs) + " ms";
    }
    if (run % 40 == 0) {  // a new hour, a new file
      file_.clear();
      kept_.clear();
      pendingRepair_.reset();
    }
    SCOPED_TRACE("seed " + std::to_string(seed_) + ", run " + std::to_string(run) + ", kill " + what);
    // Even runs leave the repair to the next recorder, odd ones repair here.
    Check(plan, Run(plan, run), run, run % 2 == 1);
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
  TRunPlan tear{TKillAt::CrashPoint, 0, TCrashPoint::TearShot, 6, ClockStart(0)};
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
  TRunPlan repair{TKillAt::CrashPoint, 0, TCrashPoint::BeforeTruncate, 0, ClockStart(1)};
  const TRunReport second = Run(repair, 1);
  EXPECT_EQ(second.Done, 0u);
  const std::vector<TBlock> keptBefore = kept_;
  Check(repair, second, 1, false);
  if (HasFatalFailure()) return;
  EXPECT_TRUE(kept_ == keptBefore) << "the interrupted repair changed the blocks";

  // 3: the next recorder repairs it for good and appends.
  TRunPlan append{TKillAt::Recording, 1500, TCrashPoint::None, 0, ClockStart(2)};
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
