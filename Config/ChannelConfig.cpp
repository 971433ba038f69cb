#include "Config/ChannelConfig.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "Common/LogHook.h"
#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {

const char* const kDefaultColor = "0,255,255";

int RGB(int r, int g, int b) { return r + 256 * g + 65536 * b; }

char PolarizationCode(const std::string& value) {
  const std::string v = UpperCase(value);
  if (v.empty()) return 'U';
  switch (v[0]) {
    case 'X':
    case '/':
    case 'O':
      return v[0];
    case 'I':
      return '/';
    case '*':
      return 'O';
    default:
      return 'U';
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<int> HexByte(char hi, char lo) {
  const int h = HexDigit(hi), l = HexDigit(lo);
  if (h < 0 || l < 0) return std::nullopt;
  return h * 16 + l;
}

// "#RRGGBB"; any other "#" form is the historical fallback colour.
int HashColor(const std::string& v) {
  if (v.size() == 7) {
    auto r = HexByte(v[1], v[2]), g = HexByte(v[3], v[4]), b = HexByte(v[5], v[6]);
    if (r && g && b) return RGB(*r, *g, *b);
  }
  return 65535;
}

// "R,G,B"; nullopt when there are fewer than three integer items or an
// item lies outside 0..255 (which would not make a colour).
std::optional<int> CommaColor(const std::string& v) {
  const std::vector<std::string> items = SplitString(v, ',');
  if (items.size() < 3) return std::nullopt;
  int c[3];
  for (int i = 0; i < 3; ++i) {
    auto n = TryParseInt(items[static_cast<size_t>(i)]);
    if (!n || *n < 0 || *n > 255) return std::nullopt;
    c[i] = *n;
  }
  return RGB(c[0], c[1], c[2]);
}

void LogBadValue(const TCustomIniFile& ini, const std::string& section, const std::string& key,
                 const std::string& value, const std::string& def) {
  LogMessage("Instrument definition <" + ini.FileName() + "> [" + section + "] " + key + "=" + value +
             " is not valid, " + def + " used");
}

// A decimal number of nanoseconds, returned in seconds.
double ReadNanoseconds(const TCustomIniFile& ini, const std::string& section, const std::string& key,
                       const char* def) {
  const std::string text = ini.ReadString(section, key, def);
  auto v = TryParseDouble(text);
  if (!v) {
    LogBadValue(ini, section, key, text, def);
    v = TryParseDouble(def);
  }
  // Dividing by the exact 1e9 rounds once: 100 gives exactly 1e-7.
  return *v / 1e9;
}

int ReadColor(const TCustomIniFile& ini, const std::string& section) {
  const std::string text = Trim(ini.ReadString(section, "Color", kDefaultColor));
  if (!text.empty() && text[0] == '#') return HashColor(text);
  if (auto c = CommaColor(text)) return *c;
  LogBadValue(ini, section, "Color", text, kDefaultColor);
  return *CommaColor(kDefaultColor);
}

}  // namespace

TChannelType ChannelTypeOfProtocol(const std::string& protocol) {
  const std::string p = UpperCase(protocol);
  if (p == "LIDAR") return TChannelType::Lidar;
  if (p == "LIDAR_MONITOR") return TChannelType::Monitor;
  return TChannelType::Unknown;
}

TChannelType TChannelConfig::Type() const { return ChannelTypeOfProtocol(Protocol); }

long long TChannelConfig::FramedShotSize() const {
  const long long gates = std::max(DoorsCount, 0), width = std::max(DoorsByte, 0), info = std::max(InfoBytes, 0);
  return gates * width + info + ShotFramingBytes;
}

bool TChannelConfig::Load(const TCustomIniFile& ini, const std::string& section, bool boardLayout) {
  RecordID = ini.ReadInteger(section, "RecordID", 1);
  GroupID = ini.ReadInteger(section, "GroupID", 0);
  Name = ini.ReadString(section, "Name", "");
  WaveLength = ini.ReadInteger(section, "WaveLength", 532);
  FWHM = ini.ReadFloat(section, "FWHM", 0);
  Polarization = PolarizationCode(Trim(ini.ReadString(section, "Polarization", "U")));
  Color = ReadColor(ini, section);
  USBDescriptor = ini.ReadString(section, "USB", "ORML LIDAR");
  Protocol = UpperCase(ini.ReadString(section, "Protocol", "LIDAR"));
  ProtoOpt = ini.ReadString(section, "ProtoOpt", "");
  TimeOut = ini.ReadInteger(section, "TimeOut", 2000);
  BufferLength = ini.ReadInteger(section, "BufferLength", 16464);
  // A board carries the laser commands by construction.
  HasLaserCmd = boardLayout ? 1 : ini.ReadInteger(section, "HasLaserCmd", 0);
  DoorsCount = ini.ReadInteger(section, boardLayout ? "Doors_Count" : "DoorsCount", 2048);
  DoorsUsed = ini.ReadInteger(section, "DoorsUsed", DoorsCount);
  // Gates beyond those of a shot do not exist in its record.
  if (DoorsUsed < 0 || DoorsUsed > DoorsCount) {
    const int used = DoorsUsed < 0 ? 0 : DoorsCount;
    LogBadValue(ini, section, "DoorsUsed", std::to_string(DoorsUsed), std::to_string(used));
    DoorsUsed = used;
  }
  DoorsByte = ini.ReadInteger(section, boardLayout ? "Byte_Per_Data" : "DoorsByte", 2);
  DoorsTime = ReadNanoseconds(ini, section, boardLayout ? "Time_Per_Door" : "DoorsTime", "100");
  OffsetTime = ReadNanoseconds(ini, section, "OffsetTime", "0");
  LaserPulse = ini.ReadInteger(section, "LaserPulse", 4096);
  InfoBytes = ini.ReadInteger(section, boardLayout ? "Info_Bytes" : "InfoBytes", 0);
  return true;
}

}  // namespace OrlaqLidar
