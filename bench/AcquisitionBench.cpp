// acquisition: shots a second and CPU per shot of the whole live chain
// (virtual USB transport, reader threads, framing protocol, channels, the
// instrument's scheduling with its 100 ms step on a real timer, and the
// source's dispatch to a counting data consumer) for an instrument of two
// lidar channels of 2048 gates x 4 bytes in one group, no least period, no
// warm-up, with the simulated boards answering at once.
//
// The process CPU includes the simulator's device threads, which compute
// the shots; their share is measured per thread and reported apart, so the
// program's own cost is the difference.
//
// Baseline, same run and same simulated boards: a plain blocking loop that
// writes both queries of a round and reads both answers.
#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "Simulator/SimInstrument.h"
#include "bench/Bench.h"
#include "bench/LiveBench.h"
#include "kernel/comm/Channel.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarAcquisition.h"

namespace OrlaqLidar::Bench {
namespace {

constexpr const char* Name = "acquisition";
constexpr int ShotBytes = 2048 * 4 + 16;
constexpr int AnswerBytes = 4 + ShotBytes + 4 + 2;

std::string Definition() {
  return BenchDefinition("Acquisition bench", {{"532 parallel", "BENCH LIDAR 532P", '/', 2},
                                               {"532 perpendicular", "BENCH LIDAR 532S", 'X', 0}});
}

void Fail(const std::string& what) { std::fprintf(stderr, "%s: %s\n", Name, what.c_str()); }

struct TFigures {
  uint64_t Shots = 0;
  double Seconds = 0;
  double Cpu = 0;     // whole process
  double SimCpu = 0;  // the simulator's device threads
  double PerSecond() const { return Seconds > 0 ? static_cast<double>(Shots) / Seconds : 0; }
  double Per10k(double cpu) const { return Shots ? cpu / static_cast<double>(Shots) * 10000 : 0; }
};

bool MeasureAcquisition(TSimInstrument& sim, TApplicationConfig& settings, const std::set<int>& simThreads,
                        double seconds, TFigures& out) {
  std::string error;
  auto usb = CreateUsbDriver("virtual:" + sim.DevicesFile().string(), error);
  if (!usb) {
    Fail(error);
    return false;
  }
  TSkippableClock clock;
  TQtMainLoop loop;
  TScopedServices services(TServices{&clock, &loop, nullptr, usb.get(), nullptr});
  std::vector<std::string> log;
  TErrorLogger::Instance().SetSink([&](const std::string& line) { log.push_back(line); });

  bool ok = true;
  {
    TLidarAcquisition source(&settings);
    uint64_t shots = 0, otherRecords = 0, badLength = 0;
    bool measuring = false;
    std::chrono::steady_clock::time_point start, last;
    source.AddDataConsumer(&shots, [&](int id, const uint8_t*, int length, TDateTime) {
      if (id != 1 && id != 2) {
        ++otherRecords;
        return;
      }
      if (length != ShotBytes) ++badLength;
      if (!measuring) return;
      ++shots;
      last = std::chrono::steady_clock::now();
    });
    if (!source.Open()) {
      Fail("the instrument could not be built");
      return false;
    }
    clock.Skip(TChannel::FirstOpenDelayMs);
    source.Start();
    const auto tick = loop.StartTimer(100, [&] { source.OnTimer(clock.NowUTC()); });
    // Auto-power switches the laser on once connected.
    if (!RunQtUntil([&] { return source.Status.PowerState() == TState::LaserOn; }, 10000)) {
      Fail("no laser on: " + source.Status.Text);
      ok = false;
    }
    if (ok) {
      RunQtUntil([] { return false; }, 500);  // warm-up
      measuring = true;
      start = last = std::chrono::steady_clock::now();
      const double cpu0 = ProcessCpuSeconds(), sim0 = ThreadsCpuSeconds(simThreads);
      RunQtUntil([&] { return SecondsSince(start) >= seconds; }, static_cast<int>(seconds * 1000) + 5000, 50);
      measuring = false;
      out.Cpu = ProcessCpuSeconds() - cpu0;
      out.SimCpu = ThreadsCpuSeconds(simThreads) - sim0;
      out.Shots = shots;
      out.Seconds = std::chrono::duration<double>(last - start).count();
      if (badLength || otherRecords || shots == 0) {
        Fail(std::to_string(badLength) + " bad lengths, " + std::to_string(otherRecords) + " other records, " +
             std::to_string(shots) + " shots");
        ok = false;
      }
    }
    source.SetPower(false);
    RunQtUntil([&] { return source.Status.PowerState() == TState::LaserOff; }, 3000);
    loop.StopTimer(tick);
    source.RemoveDataConsumer(&shots);
    source.Stop();
    source.Close();
  }
  RunQtUntil([] { return false; }, 20);
  TErrorLogger::Instance().SetSink(nullptr);
  for (const auto& line : log) Fail("log: " + line);
  return ok;
}

// Rounds of both queries written, then both answers read, on blocking sockets.
bool MeasurePlain(TSimInstrument& sim, const std::set<int>& simThreads, double seconds, TFigures& out) {
  TRawLink a(sim.Entry(0).Socket), b(sim.Entry(1).Socket);
  if (!a.Ok() || !b.Ok()) {
    Fail("cannot connect to the simulated devices");
    return false;
  }
  std::string answer;
  if (!a.Send(QueryFrame("i")) || !a.ReceiveText(answer) || answer != "OK") {
    Fail("the simulated laser did not switch on: " + answer);
    return false;
  }
  const std::string queryA = QueryFrame("a"), queryB = QueryFrame("A");
  std::vector<uint8_t> buffer(AnswerBytes);
  auto round = [&] {
    return a.Send(queryA) && b.Send(queryB) && a.Receive(buffer.data(), buffer.size()) && buffer[1] == 0xFF &&
           b.Receive(buffer.data(), buffer.size()) && buffer[1] == 0xFF;
  };
  for (int i = 0; i < 100; ++i)
    if (!round()) {
      Fail("plain loop: bad answer");
      return false;
    }
  const auto start = std::chrono::steady_clock::now();
  const double cpu0 = ProcessCpuSeconds(), sim0 = ThreadsCpuSeconds(simThreads);
  uint64_t shots = 0;
  while (SecondsSince(start) < seconds) {
    if (!round()) {
      Fail("plain loop: bad answer");
      return false;
    }
    shots += 2;
  }
  out.Seconds = SecondsSince(start);
  out.Cpu = ProcessCpuSeconds() - cpu0;
  out.SimCpu = ThreadsCpuSeconds(simThreads) - sim0;
  out.Shots = shots;
  return true;
}

bool Run() {
  EnsureQtApplication();
  const double seconds = BenchSeconds(20);
  TTempFolder folder;
  TIniFile ini;
  ini.LoadFromText(Definition());
  TApplicationConfig settings;
  if (folder.Path().empty() || !settings.LidarConfig.Load(ini)) {
    Fail("setup failed");
    return false;
  }
  settings.ConfigFolder = (folder.Path() / "config").string();
  settings.AutoPower = true;

  TSimOptions options;
  options.RateLimit = false;
  TSimInstrument sim(settings.LidarConfig, options);
  // The device threads are the ones the simulator starts.
  const std::set<int> before = ThreadIds();
  if (!sim.Start(folder.Path() / "devices")) {
    Fail(sim.LastError());
    return false;
  }
  std::set<int> simThreads;
  for (int id : ThreadIds())
    if (!before.count(id)) simThreads.insert(id);

  TFigures live, plain;
  if (!MeasureAcquisition(sim, settings, simThreads, seconds, live)) return false;
  if (!MeasurePlain(sim, simThreads, std::min(seconds, 5.0), plain)) return false;
  sim.Stop();

  Report(Name, "shots_per_s", live.PerSecond(), "shots/s");
  // The program's own path (transport, protocol, instrument, dispatch); the
  // simulated instrument's threads run in this process too and are counted apart.
  Report(Name, "cpu_s_per_10k_shots", live.Per10k(live.Cpu - live.SimCpu), "s");
  Report(Name, "sim_cpu_s_per_10k_shots", live.Per10k(live.SimCpu), "s");
  Report(Name, "process_cpu_s_per_10k_shots", live.Per10k(live.Cpu), "s");
  Report(Name, "plain_shots_per_s", plain.PerSecond(), "shots/s");
  Report(Name, "plain_cpu_s_per_10k_shots", plain.Per10k(plain.Cpu), "s");
  Report(Name, "ratio", plain.PerSecond() > 0 ? live.PerSecond() / plain.PerSecond() : 0, "x");
  return true;
}

const TRegistrar registrar{Name, [] { return Run(); }};

}  // namespace
}  // namespace OrlaqLidar::Bench
