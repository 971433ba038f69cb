// processing: shots per second through data managers running every
// correction (flags 63) on 2048-gate, 4-byte shots, with one data manager
// and with the four a live session has on its source (quicklook, profile
// view, export, calibration), against one plain pass over the same shots
// that converts the counts to double and accumulates them. Profiles of
// 60 s at 10 shots a second: completions are part of the figures.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Common/DateTime.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "bench/Bench.h"
#include "kernel/ErrorLogger.h"
#include "kernel/processing/DataManager.h"

namespace OrlaqLidar::Bench {
namespace {

constexpr const char* Name = "processing";
constexpr int Gates = 2048;
constexpr int GateBytes = 4;
constexpr int InfoBytes = 4;
constexpr int DistinctShots = 64;
constexpr int ShotsPerRound = 60000;
constexpr int Rounds = 3;

class TBenchSource : public TLidarManager {
 public:
  TBenchSource() : TLidarManager(nullptr, "Bench Source", false) {}
  bool Open() override { return true; }
  bool Close() override { return true; }
  bool Start() override { return true; }
  bool Stop() override { return true; }
  bool SetPower(bool) override { return true; }
};

struct TInstrument {
  TInstrument() {
    auto c = std::make_unique<TChannelConfig>();
    c->RecordID = 1;
    c->Protocol = "LIDAR";
    c->DoorsCount = c->DoorsUsed = Gates;
    c->DoorsByte = GateBytes;
    c->DoorsTime = 100e-9;
    c->InfoBytes = InfoBytes;
    auto d = std::make_unique<TInfoDescription>();
    d->Name = "Shots";
    d->B = 32;
    d->Options = "CODE:SHOOT";
    c->InfoDescriptions.push_back(std::move(d));
    definition.Channels.push_back(std::move(c));
    auto cal = std::make_unique<TCalibration>(1, TChannelType::Lidar, Gates);
    cal->ApdState = TCalibration::StateAttempted;
    cal->AfterPulseState = cal->OverlapState = TCalibration::StatePresent;
    for (int i = 0; i < Gates; ++i) {
      cal->AfterPulse[static_cast<size_t>(i)] = 50.0 / (1 + i);
      cal->OverlapInverse[static_cast<size_t>(i)] = i < 40 ? 40.0 / (1 + i) : 1.0;
    }
    setup.Calibrations.push_back(std::move(cal));

    // Photon counts of a plausible profile with noise, 1000 laser shots each.
    uint64_t x = 88172645463325252ull;
    shots.assign(DistinctShots, std::vector<uint8_t>(Gates * GateBytes + InfoBytes));
    for (auto& shot : shots) {
      for (int i = 0; i < Gates; ++i) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        const auto count = static_cast<uint32_t>(20 + 4e5 / (1.0 + i) + static_cast<double>(x % 16));
        for (int b = 0; b < GateBytes; ++b)
          shot[static_cast<size_t>(i * GateBytes + b)] = static_cast<uint8_t>(count >> (8 * (GateBytes - 1 - b)));
      }
      const uint32_t laserShots = 1000;
      for (int b = 0; b < InfoBytes; ++b)
        shot[static_cast<size_t>(Gates * GateBytes + b)] = static_cast<uint8_t>(laserShots >> (8 * (InfoBytes - 1 - b)));
    }
  }

  TLidarConfig definition;
  TLidarSetup setup;
  std::vector<std::vector<uint8_t>> shots;
};

// Shots per second of the fastest round.
double BestRate(const std::function<void()>& round) {
  double best = 0;
  for (int r = 0; r < Rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    round();
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    best = std::max(best, ShotsPerRound / d.count());
  }
  return best;
}

double ManagersRate(TInstrument& instrument, int managers, uint64_t& completed) {
  TBenchSource source;
  TProcessingArgs args(TProcessingSetup(63, 60), &instrument.definition, &instrument.setup);
  std::vector<std::unique_ptr<TDataManager>> list;
  for (int m = 0; m < managers; ++m) {
    list.push_back(std::make_unique<TDataManager>(&args, &source));
    list.back()->FOnManagedDatas = [&completed](const TProfile& p) { completed += p->Open ? 0 : 1; };
  }
  TDateTime t = EncodeDateTime(2024, 5, 1, 0, 0, 0);
  return BestRate([&] {
    for (int i = 0; i < ShotsPerRound; ++i) {
      const auto& shot = instrument.shots[static_cast<size_t>(i % DistinctShots)];
      t += 0.1 / SecondsPerDay;
      source.DispatchRecord(1, shot.data(), static_cast<int>(shot.size()), t);
    }
  });
}

double PlainRate(const TInstrument& instrument, double& checksum) {
  std::vector<double> sum(Gates, 0.0);
  const double rate = BestRate([&] {
    for (int i = 0; i < ShotsPerRound; ++i) {
      const uint8_t* p = instrument.shots[static_cast<size_t>(i % DistinctShots)].data();
      for (int g = 0; g < Gates; ++g) {
        const uint8_t* q = p + GateBytes * g;
        sum[static_cast<size_t>(g)] += static_cast<double>(static_cast<uint32_t>(q[0]) << 24 |
                                                           static_cast<uint32_t>(q[1]) << 16 |
                                                           static_cast<uint32_t>(q[2]) << 8 | q[3]);
      }
    }
  });
  checksum += sum[0] + sum[Gates - 1];
  return rate;
}

bool Run() {
  TErrorLogger::Instance().SetSink(nullptr);
  TInstrument instrument;
  uint64_t completed = 0;
  double checksum = 0;
  const double plain = PlainRate(instrument, checksum);
  const double one = ManagersRate(instrument, 1, completed);
  const double four = ManagersRate(instrument, 4, completed);
  if (completed == 0 || checksum == 0) return false;
  Report(Name, "one_manager_shots_per_s", one, "shots/s");
  Report(Name, "four_managers_shots_per_s", four, "shots/s");
  Report(Name, "ns_per_gate", one > 0 ? 1e9 / (one * Gates) : 0, "ns");
  Report(Name, "plain_shots_per_s", plain, "shots/s");
  Report(Name, "ratio", plain > 0 ? one / plain : 0, "x");
  return true;
}

const TRegistrar registrar{Name, [] { return Run(); }};

}  // namespace
}  // namespace OrlaqLidar::Bench
