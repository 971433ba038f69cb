#include "Config/AirinsConfig.h"

namespace OrlaqLidar {

bool TAirinsConfig::Load(const TCustomIniFile& ini) {
  RecordID = ini.ReadInteger("Airins", "RecordID", RecordID);
  TimeOut = ini.ReadInteger("Airins", "TimeOut", TimeOut);
  return true;
}

}  // namespace OrlaqLidar
