#include "Config/LidarConfig.h"

#include "Common/StringUtils.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

namespace {

const int kMaxInfoKeys = 14;

std::string CodeOfName(const std::string& name) {
  std::string code;
  for (char c : UpperCase(name))
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) code += c;
  return code;
}

}  // namespace

bool TLidarConfig::Reject(const std::string& fileName, const std::string& text) {
  LoadError = text;
  Services().Prompt->ShowWarning("Error in file <" + fileName + ">\n" + text);
  return false;
}

bool TLidarConfig::CheckTextSize(const std::string& fileName, unsigned long long size) {
  if (size <= MaxTextSize) return true;
  return Reject(fileName, "The definition is " + std::to_string(size) + " bytes long; a recorded file holds at most " +
                              std::to_string(MaxTextSize) + " bytes of it");
}

bool TLidarConfig::CheckLimits(const std::string& fileName, const std::string& section,
                               const TChannelConfig& channel) {
  const TChannelType type = channel.Type();
  // Other channels are never built nor recorded.
  if (type != TChannelType::Lidar && type != TChannelType::Monitor) return true;
  const std::string where = "[" + section + "] ";
  if (channel.RecordID < 0 || channel.RecordID > TChannelConfig::MaxRecordID)
    return Reject(fileName, where + "RecordID=" + std::to_string(channel.RecordID) +
                                " is out of range: a recorded file holds record identifiers 0 to " +
                                std::to_string(TChannelConfig::MaxRecordID));
  const int sameKind = type == TChannelType::Lidar ? LidarChannelCount() : MonitorChannelCount();
  if (sameKind >= MaxChannelsOfAKind)
    return Reject(fileName, where + "is one " + (type == TChannelType::Lidar ? "lidar" : "monitoring") +
                                " channel too many: a recorded file holds at most " +
                                std::to_string(MaxChannelsOfAKind) + " of them");
  if (channel.BufferLength < 1)
    return Reject(fileName, where + "BufferLength=" + std::to_string(channel.BufferLength) +
                                " is not a buffer size");
  if (type != TChannelType::Lidar) return true;
  if (channel.DoorsCount < 1 || channel.DoorsCount > TChannelConfig::MaxDoorsCount)
    return Reject(fileName, where + "DoorsCount=" + std::to_string(channel.DoorsCount) +
                                " is out of range: 1 to " + std::to_string(TChannelConfig::MaxDoorsCount) + " gates");
  if (channel.BufferLength < channel.FramedShotSize())
    return Reject(fileName, where + "BufferLength=" + std::to_string(channel.BufferLength) +
                                " cannot hold one shot: " + std::to_string(channel.FramedShotSize()) +
                                " bytes needed (" + std::to_string(channel.DoorsCount) + " gates of " +
                                std::to_string(channel.DoorsByte) + " bytes, " + std::to_string(channel.InfoBytes) +
                                " information bytes and " + std::to_string(TChannelConfig::ShotFramingBytes) +
                                " bytes of framing)");
  return true;
}

void TLidarConfig::Clear() {
  Channels.clear();
  Groups.clear();
  Name.clear();
  Code.clear();
  Airins = false;
  MonitorTimeData = 0;
  LoadError.clear();
  // The INS keys default to their current values: another file's must not leak in.
  AirinsConfig = TAirinsConfig();
}

bool TLidarConfig::Load(const TCustomIniFile& ini) {
  LoadError.clear();
  const std::string file = ini.FileName();
  // A repeated section would hide the second one from every read.
  const std::vector<std::string> sections = ini.ReadSections();
  for (size_t i = 0; i < sections.size(); ++i)
    for (size_t j = i + 1; j < sections.size(); ++j)
      if (sections[i] == sections[j])
        return Reject(file, "Two sections have the same name [" + sections[i] + "]");

  Name = ini.ReadString("General", "Name", "Unknown");
  Code = ini.ReadString("General", "Code", CodeOfName(Name));

  const bool boardLayout = ini.SectionExists("Electronic");
  const std::string instrumentSection = boardLayout ? "Electronic" : "Instruments";
  Airins = ini.ReadBool(instrumentSection, "Airins", false);
  MonitorTimeData = ini.ReadInteger(instrumentSection, "MonitorTimeData", 800);

  for (int n = 1;; ++n) {
    const std::string section = "ChannelGroup" + std::to_string(n);
    if (!ini.SectionExists(section)) break;
    const int id = ini.ReadInteger(section, "GroupID", -1);
    if (id < 0) break;
    if (Groups.count(id))
      return Reject(file, "Two groups have the same GroupID=" + std::to_string(id) + " : " + section +
                             " and a previous one");
    auto group = std::make_unique<TGroupConfig>(id);
    group->Load(ini, section);
    Groups.emplace(id, std::move(group));
  }

  for (int n = 1;; ++n) {
    // The board layout has exactly one channel, described in [Electronic].
    const std::string section = boardLayout ? instrumentSection : "Channel" + std::to_string(n);
    if (!boardLayout && !ini.SectionExists(section)) break;
    auto channel = std::make_unique<TChannelConfig>();
    channel->Load(ini, section, boardLayout);

    if (!CheckLimits(file, section, *channel)) return false;
    // Every earlier data channel counts, not only the first with that
    // identifier: behind a channel of another protocol, two data channels
    // would otherwise share one identifier in the recorded files.
    for (const auto& earlier : Channels)
      if (earlier->RecordID == channel->RecordID &&
          (earlier->Type() == TChannelType::Lidar || earlier->Type() == TChannelType::Monitor))
        return Reject(file, "[" + section + "] have same RecordID=" + std::to_string(channel->RecordID) +
                               " than a previous channel!");
    if (!Groups.count(channel->GroupID))
      return Reject(file, "[" + section + "] have a unknown GroupeID=" + std::to_string(channel->GroupID));
    for (const auto& earlier : Channels) {
      if (!channel->USBDescriptor.empty() && SameText(channel->USBDescriptor, earlier->USBDescriptor))
        return Reject(file, "[" + section + "] have same USBDescriptor <" + earlier->USBDescriptor +
                               "> than channel with RecordID=" + std::to_string(earlier->RecordID) + " !");
      if (SameText(channel->Name, earlier->Name))
        return Reject(file, "[" + section + "] have same Name <" + earlier->Name + "> than channel with RecordID=" +
                               std::to_string(earlier->RecordID) + " !");
    }

    if (!boardLayout) {
      for (int k = 1; k <= kMaxInfoKeys; ++k) {
        const auto text = ini.Read(section, "CH" + std::to_string(k));
        if (!text) continue;
        auto info = std::make_unique<TInfoDescription>();
        info->Index = k - 1;
        info->Parse(*text);
        channel->InfoDescriptions.push_back(std::move(info));
      }
    } else if (ini.SectionExists("InfoBytes")) {
      const std::string key = "LaserFrequ.";
      auto info = std::make_unique<TInfoDescription>();
      info->Parse(ini.ReadString("InfoBytes", key, ""));
      info->Parse("NAME:" + key + "," + info->Text);
      channel->InfoDescriptions.push_back(std::move(info));
    }

    Channels.push_back(std::move(channel));
    if (boardLayout) break;
  }

  if (Airins) {
    AirinsConfig.Load(ini);
    // Its records are tagged like a channel's.
    if (AirinsConfig.RecordID < 0 || AirinsConfig.RecordID > TChannelConfig::MaxRecordID)
      return Reject(file, "[Airins] RecordID=" + std::to_string(AirinsConfig.RecordID) +
                              " is out of range: a recorded file holds record identifiers 0 to " +
                              std::to_string(TChannelConfig::MaxRecordID));
  }
  return true;
}

TChannelConfig* TLidarConfig::FirstChannel(int recordId) const {
  for (const auto& c : Channels)
    if (c->RecordID == recordId) return c.get();
  return nullptr;
}

TChannelType TLidarConfig::ChannelType(int recordId) const {
  if (Airins && recordId == AirinsConfig.RecordID) return TChannelType::Ins;
  const TChannelConfig* c = FirstChannel(recordId);
  return c ? c->Type() : TChannelType::Unknown;
}

TChannelConfig* TLidarConfig::FindChannel(int recordId) const {
  const TChannelType t = ChannelType(recordId);
  return t == TChannelType::Lidar || t == TChannelType::Monitor ? FirstChannel(recordId) : nullptr;
}

int TLidarConfig::LidarChannelCount() const {
  int n = 0;
  for (const auto& c : Channels)
    if (c->Type() == TChannelType::Lidar) ++n;
  return n;
}

int TLidarConfig::MonitorChannelCount() const {
  int n = 0;
  for (const auto& c : Channels)
    if (c->Type() == TChannelType::Monitor) ++n;
  return n;
}

bool TLidarConfig::GroupHasLaserCmd(int groupId) const {
  for (const auto& c : Channels)
    if ((groupId == 0 || c->GroupID == groupId) && c->HasLaserCmd != 0) return true;
  return false;
}

}  // namespace OrlaqLidar
