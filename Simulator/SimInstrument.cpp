#include "Simulator/SimInstrument.h"

#include <system_error>

#include "Common/FileUtils.h"
#include "Common/IniFile.h"
#include "Common/StringUtils.h"

namespace OrlaqLidar {

TSimInstrument::TSimInstrument(const TLidarConfig& config, TSimOptions options)
    : options_(std::move(options)),
      atmosphere_(std::make_shared<TSimAtmosphere>(options_.Latitude, options_.Longitude, options_.Seed,
                                                   options_.Clouds)) {
  // A group's laser can be switched when one of its lidar boards has the
  // laser commands; otherwise it runs as soon as the instrument is powered.
  std::map<int, bool> switchable;
  for (const auto& c : config.Channels)
    if (c->Type() == TChannelType::Lidar) switchable[c->GroupID] = switchable[c->GroupID] || c->HasLaserCmd > 0;
  for (const auto& [group, canSwitch] : switchable)
    lasers_[group] = std::make_shared<TSimLaser>(canSwitch, options_.WatchdogMs);

  for (const auto& c : config.Channels) {
    const TChannelType type = c->Type();
    if (type != TChannelType::Lidar && type != TChannelType::Monitor) continue;
    const size_t index = entries_.size();
    // Two channels per dual-port chip, which report one serial number with
    // the port letter appended.
    const size_t chip = index / 2;
    const char port = static_cast<char>('A' + index % 2);
    TDeviceEntry e;
    e.Description = c->USBDescriptor;
    e.SerialNumber = "VL" + std::to_string(1001 + chip) + port;
    e.Type = 6;
    e.LocationId = static_cast<int>((chip + 1) * 16 + index % 2 + 1);
    e.RecordID = c->RecordID;
    e.GroupID = c->GroupID;
    e.Lidar = type == TChannelType::Lidar;
    const uint64_t seed = options_.Seed * 1000003ull + index;
    if (e.Lidar)
      devices_.push_back(std::make_unique<TSimLidarDevice>(*c, lasers_.at(c->GroupID), atmosphere_, options_,
                                                           e.SerialNumber, seed));
    else
      devices_.push_back(std::make_unique<TSimMonitorDevice>(*c, options_, e.SerialNumber, seed));
    entries_.push_back(std::move(e));
  }
}

TSimInstrument::~TSimInstrument() { Stop(); }

int TSimInstrument::FindDevice(const std::string& description) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (SameText(entries_[i].Description, description)) return static_cast<int>(i);
  return -1;
}

int TSimInstrument::FindDeviceByRecordID(int recordId) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].RecordID == recordId) return static_cast<int>(i);
  return -1;
}

bool TSimInstrument::LaserOn(int groupId) const {
  const auto it = lasers_.find(groupId);
  return it != lasers_.end() && it->second->IsOn(TSimDevice::SteadyUs());
}

void TSimInstrument::TripLaser(int groupId) {
  const auto it = lasers_.find(groupId);
  if (it != lasers_.end()) it->second->Trip();
}

std::string TSimInstrument::DevicesText() const {
  TIniFile ini;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const TDeviceEntry& e = entries_[i];
    const std::string section = "Device" + std::to_string(i);
    ini.WriteString(section, "Description", e.Description);
    ini.WriteString(section, "SerialNumber", e.SerialNumber);
    ini.WriteInteger(section, "Type", e.Type);
    ini.WriteInteger(section, "LocationId", e.LocationId);
    ini.WriteString(section, "Socket", e.Socket.string());
  }
  return ini.ToText();
}

bool TSimInstrument::Start(const std::filesystem::path& folder) { return Start(folder, folder / "devices.ini"); }

bool TSimInstrument::Start(const std::filesystem::path& folder, const std::filesystem::path& devicesFile) {
  if (running_) return true;
  lastError_.clear();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  for (size_t i = 0; i < devices_.size(); ++i) {
    entries_[i].Socket = folder / ("dev" + std::to_string(i) + ".sock");
    auto server = std::make_unique<TSimDeviceServer>(*devices_[i], entries_[i].Socket, options_.FaultRate,
                                                     options_.Seed * 7919 + i);
    std::string error;
    if (!server->Start(&error)) {
      lastError_ = "Device " + entries_[i].Description + ": " + error;
      servers_.clear();
      return false;
    }
    servers_.push_back(std::move(server));
  }
  if (!WriteFileAtomic(devicesFile, DevicesText())) {
    lastError_ = "Cannot write " + devicesFile.string();
    servers_.clear();
    return false;
  }
  devicesFile_ = devicesFile;
  running_ = true;
  return true;
}

void TSimInstrument::Stop() {
  for (auto it = servers_.rbegin(); it != servers_.rend(); ++it) (*it)->Stop();
  servers_.clear();
  if (running_ && !devicesFile_.empty()) {
    // The devices are gone: so is the list that announced them.
    std::error_code ec;
    std::filesystem::remove(devicesFile_, ec);
  }
  running_ = false;
}

}  // namespace OrlaqLidar
