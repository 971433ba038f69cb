#pragma once
// The lidar channels that share one laser: switched together, warmed up
// together and asked for shots together.
#include <vector>

#include "Common/DateTime.h"
#include "Config/GroupConfig.h"

namespace OrlaqLidar {

class TLidar;
class TLidarChannel;

class TChannelGroup {
 public:
  TChannelGroup(TLidar* lidar, const TGroupConfig* config);

  // Switches every laser of the group; a command that cannot be sent now is queued.
  void SwitchLasers(bool on, TDateTime now);
  // Channels connected, warming up and idle go to ready once HeatingTime has passed.
  void CheckWarmup(TDateTime now);
  bool HeatingDone(TDateTime now) const;
  bool DueForShot(TDateTime now) const;
  void AskData(TDateTime now);

  int Id() const { return config_->GroupID; }
  const TGroupConfig& Config() const { return *config_; }
  std::vector<TLidarChannel*> Channels;  // not owned
  TDateTime LastShotTime = 0;
  TDateTime PowerOnTime = 0;

 private:
  TLidar* lidar_;
  const TGroupConfig* config_;
};

// Whole milliseconds between two date-time values, robust to rounding.
long long ElapsedMs(TDateTime from, TDateTime to);

}  // namespace OrlaqLidar
