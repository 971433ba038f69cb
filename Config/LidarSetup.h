#pragma once
// What belongs to the installed instrument rather than to its model: the
// attitude and position of the lidar, the INS server address, the serial
// number of the connected instrument and the per-channel calibrations with
// the folder they come from. Stored in section "Skyvane\Setup".
#include <cstddef>
#include <cstdint>
#include <string>

#include "Common/CustomIniFile.h"
#include "Config/Calibration.h"
#include "Config/ChannelConfig.h"

namespace OrlaqLidar {

class TLidarSetup {
 public:
  // Archive limits: beyond them an archive is refused as a whole.
  static constexpr long long MaxArchiveEntries = 4096;
  static constexpr unsigned long long MaxEntrySize = 64ull * 1024 * 1024;

  bool Load(const TCustomIniFile& store, const std::string& section);
  bool Save(TCustomIniFile& store, const std::string& section) const;

  // Replaces the calibrations with one per channel, in definition order,
  // below the calibration folder of baseFolder, and loads them. Returns
  // how many loaded. A calibration file with too few lines is logged and
  // leaves the defaults for what was not read.
  int BuildCalibrations(const std::string& baseFolder, const TListChannelConfig& channels);
  // The calibration of a channel RecordID, or null.
  TCalibration* FindCalibration(int channel) const;
  // Handler for the calibration items of a replayed file; ignored unless
  // UseEmbeddedCalib is set.
  void EmbedCalibration(int channel, int kind, const uint8_t* data, size_t size);
  // Installs a calibration ZIP archive; returns the text for the user.
  std::string UnzipCalibrations(const std::string& archive);

  // Folder of the "Channel<n>" subfolders: baseFolder/CAL_<serial number>
  // with UseSNCalFolder, else baseFolder.
  std::string CalibrationFolderFor(const std::string& baseFolder) const;

  std::string CalibrationFolder;
  std::string BaseFolder;
  bool UseSNCalFolder = true;
  bool UseEmbeddedCalib = false;
  std::string AirinsAddr = "127.0.0.1";
  std::string AirinsPort = "1234";
  std::string SerialNumber = "00000000";
  double RollBase = 0;       // degrees
  double PitchBase = 0;      // degrees
  double AltitudeBase = 0;   // metres
  double LongitudeBase = 0;
  double LatitudeBase = 0;
  TListCalibration Calibrations;

  static constexpr const char* Section = "Skyvane\\Setup";
};

}  // namespace OrlaqLidar
