#include "Config/GroupConfig.h"

namespace OrlaqLidar {

bool TGroupConfig::Load(const TCustomIniFile& ini, const std::string& section) {
  LidarTimeOut = ini.ReadInteger(section, "LidarTimeOut", 2000);
  HeatingTime = ini.ReadInteger(section, "HeatingTime", 3);
  PeriodMin = ini.ReadInteger(section, "PeriodMin", 0);
  return true;
}

}  // namespace OrlaqLidar
