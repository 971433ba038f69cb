#pragma once
// The faults a field station meets, laid over a simulated span: a lidar
// cable pulled for 10 s every 5 h (each lidar board in turn), the
// monitoring board's every 7 h, the INS gone for 2 min twice a day, the
// laser watchdog once a day (each group in turn) and the data folder full
// for 3 min once. Offsets keep the faults apart and off the hour marks.
#include <cstdint>
#include <string>
#include <vector>

namespace OrlaqLidar {

enum class TSoakFaultKind { LidarUnplug, MonitorUnplug, InsLoss, LaserWatchdog, DataFolderFull };

struct TSoakFault {
  TSoakFaultKind Kind = TSoakFaultKind::LidarUnplug;
  uint64_t StartMs = 0;  // from the start of the span
  uint64_t DurationMs = 0;
  int Target = 0;  // simulator device (unplugs) or laser group (watchdog)
};

class TSoakSchedule {
 public:
  static constexpr uint64_t HourMs = 3600000;
  static constexpr uint64_t MinuteMs = 60000;

  // Faults starting inside [0, spanMs), in time order.
  static std::vector<TSoakFault> Build(uint64_t spanMs, const std::vector<int>& lidarDevices, int monitorDevice,
                                       const std::vector<int>& laserGroups);
  static std::string KindName(TSoakFaultKind kind);
  static constexpr TSoakFaultKind Kinds[] = {TSoakFaultKind::LidarUnplug, TSoakFaultKind::MonitorUnplug,
                                             TSoakFaultKind::InsLoss, TSoakFaultKind::LaserWatchdog,
                                             TSoakFaultKind::DataFolderFull};
};

}  // namespace OrlaqLidar
