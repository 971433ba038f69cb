#pragma once
// A channel group: the channels that share one laser.
#include <string>

#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

class TGroupConfig {
 public:
  explicit TGroupConfig(int groupId) : GroupID(groupId) {}
  bool Load(const TCustomIniFile& ini, const std::string& section);

  int GroupID = 0;
  int LidarTimeOut = 0;
  int HeatingTime = 0;  // seconds
  int PeriodMin = 0;    // milliseconds
};

}  // namespace OrlaqLidar
