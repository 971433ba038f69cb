#pragma once
// The instrument definition: model, groups, channels and information layout.
#include <map>
#include <memory>
#include <string>

#include "Common/CustomIniFile.h"
#include "Config/AirinsConfig.h"
#include "Config/ChannelConfig.h"
#include "Config/GroupConfig.h"

namespace OrlaqLidar {

class TLidarConfig {
 public:
  // Validates while reading and stops at the first inconsistency, with a
  // warning naming the file; what was accepted before stays.
  bool Load(const TCustomIniFile& ini);
  void Clear();

  TChannelType ChannelType(int recordId) const;
  TChannelConfig* FindChannel(int recordId) const;
  int LidarChannelCount() const;
  int MonitorChannelCount() const;
  // groupId 0 asks about every group.
  bool GroupHasLaserCmd(int groupId) const;

  bool Airins = false;
  int MonitorTimeData = 0;
  std::string Name;
  std::string Code;
  TListChannelConfig Channels;
  std::map<int, std::unique_ptr<TGroupConfig>> Groups;
  TAirinsConfig AirinsConfig;

 private:
  // The first channel with that identifier, whatever its type.
  TChannelConfig* FirstChannel(int recordId) const;
};

}  // namespace OrlaqLidar
