#pragma once
// One channel of the instrument definition: one USB device.
#include <memory>
#include <string>
#include <vector>

#include "Common/CustomIniFile.h"
#include "Config/InfoDescription.h"

namespace OrlaqLidar {

enum class TChannelType : int { Unknown = 1, Lidar = 2, Monitor = 3, Ins = 4 };

using TInfoDescriptions = std::vector<std::unique_ptr<TInfoDescription>>;

class TChannelConfig {
 public:
  // Reads the channel keys from a section; boardLayout selects the older key names.
  bool Load(const TCustomIniFile& ini, const std::string& section, bool boardLayout);
  TChannelType Type() const;

  int RecordID = 1;
  int GroupID = 0;
  std::string Name;
  double WaveLength = 532;
  double FWHM = 0;
  int Color = 0 + 256 * 255 + 65536 * 255;
  std::string Protocol = "LIDAR";
  std::string ProtoOpt;
  int DoorsCount = 2048;
  int DoorsUsed = 2048;
  int DoorsByte = 2;
  double DoorsTime = 100e-9;  // seconds
  double OffsetTime = 0;      // seconds
  int LaserPulse = 4096;
  int InfoBytes = 0;
  int HasLaserCmd = 0;
  char Polarization = 'O';
  int BufferLength = 16464;
  int TimeOut = 2000;
  std::string USBDescriptor = "ORML LIDAR";
  TInfoDescriptions InfoDescriptions;
};

using TListChannelConfig = std::vector<std::unique_ptr<TChannelConfig>>;

TChannelType ChannelTypeOfProtocol(const std::string& protocol);

}  // namespace OrlaqLidar
