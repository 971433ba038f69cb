#include "Display/ModelInformation.h"

#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"

namespace OrlaqLidar {

namespace {
constexpr double HalfLightSpeed = 149896229.0;  // m/s

std::string VisibleInfos(const TChannelConfig& channel) {
  std::string s;
  for (const auto& info : channel.InfoDescriptions)
    if (info && info->Visible) s += "\n    " + info->Name;
  return s;
}
}  // namespace

std::string TModelInformation::Text(const TLidarConfig& d) {
  std::string t = "Lidar model: " + d.Name;
  t += "\nNbr of laser source(s)       : " + std::to_string(d.Groups.size());
  t += "\nNbr of lidar channel(s)      : " + std::to_string(d.LidarChannelCount());
  t += "\nNbr of monitoring channel(s) : " + std::to_string(d.MonitorChannelCount());
  for (const auto& [id, group] : d.Groups) {
    t += "\n\nGroup ID " + std::to_string(group->GroupID) + "\n  ";
    t += group->HeatingTime != 0 ? "Warmup Time " + std::to_string(group->HeatingTime) + " sec minimum"
                                 : std::string("No Warmup time");
  }
  for (const auto& c : d.Channels) {
    if (!c || c->Type() != TChannelType::Lidar) continue;
    t += "\n\nChannel Name : " + c->Name;
    t += "\n  Channel ID " + std::to_string(c->RecordID) + " (Group " + std::to_string(c->GroupID) + ")";
    t += "\n  Wavelength " + FormatFloat(c->WaveLength) + "nm / FWHM " + FormatFloat(c->FWHM) + "nm";
    t += c->Polarization == '/'   ? "\n  Parallel polarization"
         : c->Polarization == 'X' ? "\n  Perpendicular polarization"
                                  : "\n  No polarization";
    t += "\n  Nbr of bins " + std::to_string(c->DoorsCount) + " of " + FormatFloat(c->DoorsTime * 1e9) + "ns";
    t += "\n  Range of " + FormatFixed(c->DoorsCount * HalfLightSpeed * c->DoorsTime / 1000.0, 3) + "km (about " +
         FormatFixed(HalfLightSpeed * c->DoorsTime, 2) + "m per bin)";
    if (c->OffsetTime != 0)
      t += "\n  Has a time offset of " + FormatFloat(c->OffsetTime * 1e9) + "ns (about " +
           FormatFixed(HalfLightSpeed * c->OffsetTime, 2) + "m)";
    t += "\n  Dynamique range " + std::to_string(c->DoorsByte * 8) + " bits";
    if (c->HasLaserCmd >= 2)
      t += "\n  Has laser power control with dead link security";
    else if (c->HasLaserCmd == 1)
      t += "\n  Has laser power control";
    const std::string infos = VisibleInfos(*c);
    if (!infos.empty()) t += "\n  Available additional information :" + infos;
  }
  for (const auto& c : d.Channels) {
    if (!c || c->Type() != TChannelType::Monitor) continue;
    t += "\n\nChannel Name : " + c->Name;
    t += "\n  Channel ID " + std::to_string(c->RecordID) + " (Group " + std::to_string(c->GroupID) + ")";
    const std::string infos = VisibleInfos(*c);
    if (!infos.empty()) t += "\n  Available information :" + infos;
  }
  return t + "\n";
}

}  // namespace OrlaqLidar
