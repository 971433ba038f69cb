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
  // A recorded file holds the definition text in one block of at most
  // 65,536 bytes, 16 of them the block's head.
  static constexpr size_t MaxTextSize = 65536 - 16;
  // The header of a recorded file counts each kind of channel in one byte.
  static constexpr int MaxChannelsOfAKind = 255;

  // Validates while reading and stops at the first inconsistency, with a
  // warning naming the file; what was accepted before stays.
  bool Load(const TCustomIniFile& ini);
  // Refuses, as Load does, a definition text a recorded file cannot carry whole.
  bool CheckTextSize(const std::string& fileName, unsigned long long size);
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
  // Why the last Load or CheckTextSize refused the definition; empty when accepted.
  std::string LoadError;

 private:
  bool Reject(const std::string& fileName, const std::string& text);
  // The limits of the file format and of the link for one channel; false
  // after the warning.
  bool CheckLimits(const std::string& fileName, const std::string& section, const TChannelConfig& channel);
  // The first channel with that identifier, whatever its type.
  TChannelConfig* FirstChannel(int recordId) const;
};

}  // namespace OrlaqLidar
