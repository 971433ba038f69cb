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
  // A recorded block names its channel in one byte.
  static constexpr int MaxRecordID = 255;
  // 65,536 gates: a gate number fits in 16 bits, at the usual 100 ns gate
  // that is close to 1,000 km of range, far beyond any atmospheric return,
  // and one shot of 4-byte gates stays at 256 KiB, so the receive buffers
  // and per-gate profile arrays of a channel stay small.
  static constexpr int MaxDoorsCount = 65536;
  // Binary answer of a shot query: 4-byte start marker, payload, 4-byte end
  // marker, 2 checksum digits.
  static constexpr int ShotFramingBytes = 10;

  // Reads the channel keys from a section; boardLayout selects the older key names.
  bool Load(const TCustomIniFile& ini, const std::string& section, bool boardLayout);
  TChannelType Type() const;
  // Bytes of one framed shot answer on the wire: DoorsCount gates of
  // DoorsByte bytes, InfoBytes, and the framing.
  long long FramedShotSize() const;

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
