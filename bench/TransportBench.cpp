// transport: what one lidar channel of 2048 gates x 4 bytes receives through
// the program's whole receive path (virtual USB device over a local socket,
// the driver's pump thread, the reader thread and its ring buffer, the
// wake-up through Qt's event loop, the framing protocol and the channel),
// asking the next shot as soon as one arrives, as the instrument does with
// no least period. The simulated boards answer at once (no pacing).
//
// Baseline, same run: a plain blocking socket loop that writes the same
// query to an identical simulated board and reads the answer's bytes,
// nothing else. The two paths run in alternating slices, so that other
// load on the machine weighs on both alike.
#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Config/LidarConfig.h"
#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "Simulator/SimInstrument.h"
#include "bench/Bench.h"
#include "bench/LiveBench.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/LidarProtocol.h"

namespace OrlaqLidar::Bench {
namespace {

constexpr const char* Name = "transport";
constexpr int ShotBytes = 2048 * 4 + 16;
// Binary answer: 4-byte start marker, the shot, 4-byte end marker, 2 checksum digits.
constexpr int AnswerBytes = 4 + ShotBytes + 4 + 2;
constexpr double SliceSeconds = 0.5;

// Two identical boards: the program talks to the first, the baseline to
// the second.
std::string Definition() {
  return BenchDefinition("Transport bench", {{"532 parallel", "BENCH LIDAR A", '/', 2},
                                             {"532 parallel twin", "BENCH LIDAR B", '/', 2}});
}

struct TFigures {
  uint64_t Shots = 0;
  double Seconds = 0;
  double Cpu = 0;
  double ShotsPerSecond() const { return Seconds > 0 ? static_cast<double>(Shots) / Seconds : 0; }
  double MBytesPerSecond() const { return ShotsPerSecond() * ShotBytes / 1e6; }
  double CpuMicrosecondsPerShot() const { return Shots ? Cpu / static_cast<double>(Shots) * 1e6 : 0; }
};

void Fail(const std::string& what) { std::fprintf(stderr, "%s: %s\n", Name, what.c_str()); }

// The program's path: one TLidarChannel driven as the instrument drives it.
class TChannelPath {
 public:
  TChannelPath(const TChannelConfig& channel, TSkippableClock& clock, TMainLoop& loop)
      : lidar_(channel), clock_(clock), loop_(loop) {
    clock_.Skip(TChannel::FirstOpenDelayMs);
    tick_ = loop_.StartTimer(100, [this] { lidar_.CheckTimeOut(clock_.NowUTC()); });
    lidar_.OnData = [this](TChannel*, const uint8_t*, int length, TDateTime) {
      if (length != ShotBytes) ++badLength_;
      ++shots_;
      last_ = std::chrono::steady_clock::now();
      if (!stop_) lidar_.AskData();
    };
  }

  ~TChannelPath() {
    lidar_.OnData = nullptr;
    loop_.StopTimer(tick_);
    lidar_.SetConnectState(TState::Disconnected);
    RunQtUntil([&] { return lidar_.GetConnectState() == TState::Disconnected; }, 3000);
  }

  bool Prepare() {
    lidar_.SetConnectState(TState::Connected);
    if (!RunQtUntil([&] { return lidar_.GetConnectState() == TState::Connected; }, 10000)) {
      Fail("the channel did not connect: " + lidar_.GetStatus()->Text + " / " + lidar_.LinkStatus().Text);
      return false;
    }
    if (!lidar_.SwitchLaser(true) || !RunQtUntil([&] { return Idle() && lidar_.GetPowerState() == TState::LaserWarmup; },
                                               5000)) {
      Fail("the laser did not switch on: " + lidar_.GetStatus()->Text);
      return false;
    }
    lidar_.GetStatus()->SetPowerState(TState::LaserOn);  // the group's warm-up is 0
    TFigures warmUp;
    return Slice(0.3, warmUp);
  }

  // Shots asked back to back for a while; every shot asked is waited for.
  bool Slice(double seconds, TFigures& total) {
    shots_ = 0;
    stop_ = false;
    const auto start = last_ = std::chrono::steady_clock::now();
    const double cpu0 = ProcessCpuSeconds();
    if (!lidar_.AskData()) {
      Fail("the channel refused the data query: " + lidar_.GetStatus()->Text);
      return false;
    }
    RunQtUntil([&] { return SecondsSince(start) >= seconds; }, static_cast<int>(seconds * 1000) + 5000, 20);
    stop_ = true;
    if (!RunQtUntil([&] { return Idle(); }, 3000)) {
      Fail("the last shot did not come: " + lidar_.GetStatus()->Text);
      return false;
    }
    total.Cpu += ProcessCpuSeconds() - cpu0;
    total.Shots += shots_;
    total.Seconds += std::chrono::duration<double>(last_ - start).count();
    if (badLength_ || lidar_.GetStatus()->Error() != 0 || shots_ == 0) {
      Fail(std::to_string(badLength_) + " shots of a wrong length, channel status " + lidar_.GetStatus()->Text);
      return false;
    }
    return true;
  }

 private:
  bool Idle() { return lidar_.GetStatus()->AcqState() == TLidarChannel::AcqIdle; }

  TLidarChannel lidar_;
  TSkippableClock& clock_;
  TMainLoop& loop_;
  TMainLoop::TTimerId tick_ = 0;
  uint64_t shots_ = 0;
  uint64_t badLength_ = 0;
  bool stop_ = false;
  std::chrono::steady_clock::time_point last_;
};

// The baseline: the same query, the same answer bytes, a blocking socket.
class TPlainPath {
 public:
  explicit TPlainPath(const std::filesystem::path& socket) : link_(socket), buffer_(AnswerBytes) {}

  bool Prepare() {
    std::string answer;
    if (!link_.Ok() || !link_.Send(QueryFrame("i")) || !link_.ReceiveText(answer) || answer != "OK") {
      Fail("the plain link to the simulated board failed: " + answer);
      return false;
    }
    TFigures warmUp;
    return Slice(0.3, warmUp);
  }

  bool Slice(double seconds, TFigures& total) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = ProcessCpuSeconds();
    uint64_t shots = 0;
    while (SecondsSince(start) < seconds) {
      if (!link_.Send(query_) || !link_.Receive(buffer_.data(), buffer_.size()) || buffer_[0] != 0x02 ||
          buffer_[1] != 0xFF || buffer_[4 + ShotBytes + 3] != 0x03) {
        Fail("plain loop: no whole answer");
        return false;
      }
      ++shots;
    }
    total.Seconds += SecondsSince(start);
    total.Cpu += ProcessCpuSeconds() - cpu0;
    total.Shots += shots;
    return true;
  }

  // The last answer received, whole.
  const std::vector<uint8_t>& LastAnswer() const { return buffer_; }

 private:
  TRawLink link_;
  std::string query_ = QueryFrame("a");
  std::vector<uint8_t> buffer_;
};

// The framing protocol alone on one whole answer: microseconds per shot to
// find, check and copy out the payload, the part of the main thread's work
// per shot that grows with the shot's size. Best of a few short runs.
double ProtocolMicroseconds(const TChannelConfig& channel, const std::vector<uint8_t>& answerBytes) {
  TLidarProtocol protocol(nullptr, channel);
  std::vector<uint8_t> frame(16), payload(static_cast<size_t>(TLidarProtocol::CapacityFor(channel)));
  const int32_t length = static_cast<int32_t>(answerBytes.size());
  double best = -1;
  for (int run = 0; run < 5; ++run) {
    int rounds = 0;
    const auto start = std::chrono::steady_clock::now();
    do {
      for (int i = 0; i < 50; ++i, ++rounds) {
        protocol.MakeFrame("a", frame.data(), static_cast<int32_t>(frame.size()));
        if (protocol.ParseAnswer(answerBytes.data(), length, static_cast<int32_t>(payload.size()), payload.data()) !=
            ShotBytes)
          return -1;
      }
    } while (SecondsSince(start) < 0.1);
    const double us = SecondsSince(start) / rounds * 1e6;
    if (best < 0 || us < best) best = us;
  }
  return best;
}

bool Run() {
  EnsureQtApplication();
  const double seconds = BenchSeconds(5);
  TTempFolder folder;
  TIniFile ini;
  ini.LoadFromText(Definition());
  TLidarConfig config;
  if (folder.Path().empty() || !config.Load(ini)) {
    Fail("setup failed");
    return false;
  }
  TSimOptions options;
  options.RateLimit = false;
  TSimInstrument sim(config, options);
  if (!sim.Start(folder.Path())) {
    Fail(sim.LastError());
    return false;
  }
  std::string error;
  auto usb = CreateUsbDriver("virtual:" + sim.DevicesFile().string(), error);
  if (!usb) {
    Fail(error);
    return false;
  }

  TFigures channel, plain;
  std::vector<uint8_t> answer;
  {
    TSkippableClock clock;
    TQtMainLoop loop;
    TScopedServices services(TServices{&clock, &loop, nullptr, usb.get(), nullptr});
    TChannelPath program(*config.FindChannel(1), clock, loop);
    TPlainPath baseline(sim.Entry(sim.FindDeviceByRecordID(2)).Socket);
    if (!program.Prepare() || !baseline.Prepare()) return false;
    const int slices = std::max(1, static_cast<int>(seconds / SliceSeconds + 0.5));
    for (int i = 0; i < slices; ++i)
      if (!program.Slice(SliceSeconds, channel) || !baseline.Slice(SliceSeconds, plain)) return false;
    answer = baseline.LastAnswer();
  }
  // Wake-ups still queued for the closed device find it gone.
  RunQtUntil([] { return false; }, 20);
  usb.reset();
  sim.Stop();
  const double protocolUs = ProtocolMicroseconds(*config.FindChannel(1), answer);
  if (protocolUs < 0) {
    Fail("the protocol rejected a whole answer");
    return false;
  }

  Report(Name, "shots_per_s", channel.ShotsPerSecond(), "shots/s");
  Report(Name, "channel_mb_s", channel.MBytesPerSecond(), "MB/s");
  Report(Name, "plain_shots_per_s", plain.ShotsPerSecond(), "shots/s");
  Report(Name, "plain_mb_s", plain.MBytesPerSecond(), "MB/s");
  Report(Name, "ratio", plain.MBytesPerSecond() > 0 ? channel.MBytesPerSecond() / plain.MBytesPerSecond() : 0, "x");
  // Process CPU per shot, simulator included, on both paths.
  Report(Name, "channel_cpu_us_per_shot", channel.CpuMicrosecondsPerShot(), "us");
  Report(Name, "plain_cpu_us_per_shot", plain.CpuMicrosecondsPerShot(), "us");
  Report(Name, "protocol_us_per_shot", protocolUs, "us");
  return true;
}

const TRegistrar registrar{Name, [] { return Run(); }};

}  // namespace
}  // namespace OrlaqLidar::Bench
