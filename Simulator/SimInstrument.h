#pragma once
// The whole virtual instrument built from an instrument definition: one
// device per lidar and monitoring channel, the lasers of the channel
// groups, the synthetic atmosphere, and one socket per device. Start writes
// the devices file through which the program's virtual USB backend finds
// the devices; Stop unplugs everything.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Config/LidarConfig.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimDevice.h"
#include "Simulator/SimDeviceServer.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimLidarDevice.h"
#include "Simulator/SimMonitorDevice.h"
#include "Simulator/SimOptions.h"

namespace OrlaqLidar {

class TSimInstrument {
 public:
  // One row of the devices file.
  struct TDeviceEntry {
    std::string Description;
    std::string SerialNumber;
    int Type = 6;  // dual-port chip: two channels per serial number, port letter last
    int LocationId = 0;
    std::filesystem::path Socket;
    int RecordID = 0;
    int GroupID = 0;
    bool Lidar = false;
  };

  // The definition is copied: it may go away after construction.
  explicit TSimInstrument(const TLidarConfig& config, TSimOptions options = {});
  ~TSimInstrument();
  TSimInstrument(const TSimInstrument&) = delete;
  TSimInstrument& operator=(const TSimInstrument&) = delete;

  // Creates the sockets in folder and writes folder/"devices.ini", or the
  // given devices file. False, with LastError, when something failed; what
  // was started is stopped again.
  bool Start(const std::filesystem::path& folder);
  bool Start(const std::filesystem::path& folder, const std::filesystem::path& devicesFile);
  // Stops every device and removes the sockets and the devices file.
  void Stop();
  bool Running() const { return running_; }
  const std::string& LastError() const { return lastError_; }
  const std::filesystem::path& DevicesFile() const { return devicesFile_; }

  int DeviceCount() const { return static_cast<int>(entries_.size()); }
  const TDeviceEntry& Entry(int device) const { return entries_.at(static_cast<size_t>(device)); }
  // Index of the device whose description equals the text (any case), or -1.
  int FindDevice(const std::string& description) const;
  int FindDeviceByRecordID(int recordId) const;
  TSimDevice& Device(int device) { return *devices_.at(static_cast<size_t>(device)); }
  // The socket side, for fault injection; only while running.
  TSimDeviceServer& Server(int device) { return *servers_.at(static_cast<size_t>(device)); }

  const TSimAtmosphere& Atmosphere() const { return *atmosphere_; }
  const TSimOptions& Options() const { return options_; }
  // Laser of a channel group; false for an unknown group.
  bool LaserOn(int groupId) const;
  // Cuts the laser of a group as its safety watchdog would.
  void TripLaser(int groupId);

  // Text of the devices file.
  std::string DevicesText() const;

 private:
  TSimOptions options_;
  std::shared_ptr<TSimAtmosphere> atmosphere_;
  std::map<int, std::shared_ptr<TSimLaser>> lasers_;
  std::vector<TDeviceEntry> entries_;
  std::vector<std::unique_ptr<TSimDevice>> devices_;
  std::vector<std::unique_ptr<TSimDeviceServer>> servers_;
  std::filesystem::path devicesFile_;
  std::string lastError_;
  bool running_ = false;
};

}  // namespace OrlaqLidar
