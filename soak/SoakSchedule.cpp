#include "soak/SoakSchedule.h"

#include <algorithm>

namespace OrlaqLidar {

namespace {
constexpr uint64_t H = TSoakSchedule::HourMs;
constexpr uint64_t M = TSoakSchedule::MinuteMs;

// One fault every period from the first offset, targets taken in turn.
void Every(std::vector<TSoakFault>& out, uint64_t spanMs, TSoakFaultKind kind, uint64_t firstMs, uint64_t periodMs,
           uint64_t durationMs, const std::vector<int>& targets) {
  size_t turn = 0;
  for (uint64_t t = firstMs; t < spanMs; t += periodMs) {
    const int target = targets.empty() ? 0 : targets[turn++ % targets.size()];
    out.push_back({kind, t, durationMs, target});
  }
}
}  // namespace

std::vector<TSoakFault> TSoakSchedule::Build(uint64_t spanMs, const std::vector<int>& lidarDevices,
                                             int monitorDevice, const std::vector<int>& laserGroups) {
  std::vector<TSoakFault> faults;
  if (!lidarDevices.empty())
    Every(faults, spanMs, TSoakFaultKind::LidarUnplug, 1 * H + 7 * M, 5 * H, 10000, lidarDevices);
  if (monitorDevice >= 0)
    Every(faults, spanMs, TSoakFaultKind::MonitorUnplug, 3 * H + 23 * M, 7 * H, 10000, {monitorDevice});
  Every(faults, spanMs, TSoakFaultKind::InsLoss, 2 * H + 41 * M, 12 * H, 2 * M, {});
  if (!laserGroups.empty())
    Every(faults, spanMs, TSoakFaultKind::LaserWatchdog, 9 * H + 17 * M, 24 * H, 0, laserGroups);
  // Once, in the middle of an hour of the first day (or of a shorter span).
  uint64_t fullAt = 14 * H + 33 * M;
  if (fullAt + 10 * M > spanMs) fullAt = spanMs / 2;
  if (spanMs > 0) faults.push_back({TSoakFaultKind::DataFolderFull, fullAt, 3 * M, 0});
  std::stable_sort(faults.begin(), faults.end(),
                   [](const TSoakFault& a, const TSoakFault& b) { return a.StartMs < b.StartMs; });
  return faults;
}

std::string TSoakSchedule::KindName(TSoakFaultKind kind) {
  switch (kind) {
    case TSoakFaultKind::LidarUnplug: return "lidar device unplugged 10 s";
    case TSoakFaultKind::MonitorUnplug: return "monitoring board unplugged 10 s";
    case TSoakFaultKind::InsLoss: return "INS lost 2 min";
    case TSoakFaultKind::LaserWatchdog: return "laser watchdog (KO)";
    case TSoakFaultKind::DataFolderFull: return "data folder full 3 min";
  }
  return "?";
}

}  // namespace OrlaqLidar
