// libFuzzer target: the instrument definition loader, both layouts, the
// older key names and the information descriptions. The input is the text
// of a definition file. The loader either refuses it with one message
// naming the file, or accepts it without one; either way every channel it
// kept is consistent: its group exists, no two channels share a USB
// descriptor or a name, no two lidar or monitoring channels share a record
// identifier, the used gates lie within the gates of a shot and the
// information fields are at most 14 in key order. The file written back
// from what was read loads to the same result, and so does a second load
// after Clear.
// fuzz-sources:
#include <filesystem>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"
#include "Platform/Services.h"
#include "Platform/UserPrompt.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::DefinitionLoader {

const char* const kFileName = "/nonexistent/skyvane-fuzz/Instrument.ini";

struct TLoad {
  bool Accepted = false;
  std::vector<std::string> Warnings;
};

TLoad Load(TLidarConfig& config, const TCustomIniFile& ini) {
  TRecordingPrompt prompt;
  TScopedServices services(TServices{nullptr, nullptr, &prompt, nullptr, nullptr});
  TLoad result;
  result.Accepted = config.Load(ini);
  result.Warnings = prompt.Warnings;
  return result;
}

bool IsLidarOrMonitor(const TChannelConfig& c) {
  return c.Type() == TChannelType::Lidar || c.Type() == TChannelType::Monitor;
}

void CheckChannels(const TLidarConfig& config) {
  for (const auto& [id, group] : config.Groups) FUZZ_CHECK(group && group->GroupID == id && id >= 0);
  for (size_t i = 0; i < config.Channels.size(); ++i) {
    const TChannelConfig& c = *config.Channels[i];
    FUZZ_CHECK(config.Groups.count(c.GroupID) == 1);
    FUZZ_CHECK(c.Protocol == UpperCase(c.Protocol));
    FUZZ_CHECK(std::string("X/OU").find(c.Polarization) != std::string::npos);
    if (c.DoorsCount >= 0) FUZZ_CHECK(c.DoorsUsed >= 0 && c.DoorsUsed <= c.DoorsCount);
    FUZZ_CHECK(c.InfoDescriptions.size() <= 14);
    int lastIndex = -1;
    for (const auto& info : c.InfoDescriptions) {
      FUZZ_CHECK(info && info->Index > lastIndex && info->Index < 14);
      lastIndex = info->Index;
      info->GetOption("CODE");
    }
    for (size_t j = 0; j < i; ++j) {
      const TChannelConfig& earlier = *config.Channels[j];
      FUZZ_CHECK(c.USBDescriptor.empty() || !SameText(c.USBDescriptor, earlier.USBDescriptor));
      FUZZ_CHECK(!SameText(c.Name, earlier.Name));
      FUZZ_CHECK(!(IsLidarOrMonitor(c) && IsLidarOrMonitor(earlier) && c.RecordID == earlier.RecordID));
    }
    config.ChannelType(c.RecordID);
    config.FindChannel(c.RecordID);
    config.GroupHasLaserCmd(c.GroupID);
  }
  FUZZ_CHECK(config.LidarChannelCount() + config.MonitorChannelCount() <= static_cast<int>(config.Channels.size()));
}

bool SameInfo(const TInfoDescription& a, const TInfoDescription& b) {
  return a.Index == b.Index && a.Visible == b.Visible && a.Inverted == b.Inverted && a.O == b.O && a.B == b.B &&
         a.S == b.S && SameDouble(a.WarningMin, b.WarningMin) && SameDouble(a.WarningMax, b.WarningMax) &&
         SameDouble(a.Min, b.Min) && SameDouble(a.Max, b.Max) && SameDouble(a.Mul, b.Mul) &&
         SameDouble(a.Div, b.Div) && SameDouble(a.Percent, b.Percent) && a.Name == b.Name && a.Unit == b.Unit &&
         a.Options == b.Options && a.Text == b.Text && a.Format == b.Format;
}

bool SameChannel(const TChannelConfig& a, const TChannelConfig& b) {
  if (a.InfoDescriptions.size() != b.InfoDescriptions.size()) return false;
  for (size_t i = 0; i < a.InfoDescriptions.size(); ++i)
    if (!SameInfo(*a.InfoDescriptions[i], *b.InfoDescriptions[i])) return false;
  return a.RecordID == b.RecordID && a.GroupID == b.GroupID && a.Name == b.Name &&
         SameDouble(a.WaveLength, b.WaveLength) && SameDouble(a.FWHM, b.FWHM) && a.Color == b.Color &&
         a.Protocol == b.Protocol && a.ProtoOpt == b.ProtoOpt && a.DoorsCount == b.DoorsCount &&
         a.DoorsUsed == b.DoorsUsed && a.DoorsByte == b.DoorsByte && SameDouble(a.DoorsTime, b.DoorsTime) &&
         SameDouble(a.OffsetTime, b.OffsetTime) && a.LaserPulse == b.LaserPulse && a.InfoBytes == b.InfoBytes &&
         a.HasLaserCmd == b.HasLaserCmd && a.Polarization == b.Polarization && a.BufferLength == b.BufferLength &&
         a.TimeOut == b.TimeOut && a.USBDescriptor == b.USBDescriptor;
}

bool SameConfig(const TLidarConfig& a, const TLidarConfig& b) {
  if (a.Name != b.Name || a.Code != b.Code || a.Airins != b.Airins || a.MonitorTimeData != b.MonitorTimeData ||
      a.AirinsConfig.RecordID != b.AirinsConfig.RecordID || a.AirinsConfig.TimeOut != b.AirinsConfig.TimeOut ||
      a.Groups.size() != b.Groups.size() || a.Channels.size() != b.Channels.size())
    return false;
  for (auto i = a.Groups.begin(), j = b.Groups.begin(); i != a.Groups.end(); ++i, ++j)
    if (i->first != j->first || i->second->LidarTimeOut != j->second->LidarTimeOut ||
        i->second->HeatingTime != j->second->HeatingTime || i->second->PeriodMin != j->second->PeriodMin)
      return false;
  for (size_t i = 0; i < a.Channels.size(); ++i)
    if (!SameChannel(*a.Channels[i], *b.Channels[i])) return false;
  return true;
}

int Run(const uint8_t* data, size_t size) {
  TIniFile ini(kFileName);
  ini.LoadFromText(AsString(data, size));
  TLidarConfig config;
  const TLoad first = Load(config, ini);
  if (first.Accepted) {
    FUZZ_CHECK(first.Warnings.empty());
  } else {
    FUZZ_CHECK(first.Warnings.size() == 1);
    FUZZ_CHECK(first.Warnings[0].rfind("Error in file <" + std::string(kFileName) + ">\n", 0) == 0);
  }
  CheckChannels(config);

  TIniFile written(kFileName);
  written.LoadFromText(ini.ToText());
  TLidarConfig again;
  const TLoad second = Load(again, written);
  FUZZ_CHECK(second.Accepted == first.Accepted && second.Warnings == first.Warnings);
  FUZZ_CHECK(SameConfig(config, again));

  config.Clear();
  const TLoad third = Load(config, ini);
  FUZZ_CHECK(third.Accepted == first.Accepted && third.Warnings == first.Warnings);
  FUZZ_CHECK(SameConfig(config, again));
  return 0;
}

// The shipped definitions, and the board layout with its older key names.
TSeeds Seeds(const std::filesystem::path& sourceDir) {
  TSeeds seeds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sourceDir / "share" / "instruments", ec))
    if (entry.path().extension() == ".ini")
      seeds.emplace_back(entry.path().filename().string(), ReadFileBytes(entry.path()));
  seeds.emplace_back("board.ini",
                     "[General]\nName=Board\n[Electronic]\nAirins=1\nMonitorTimeData=300\nRecordID=7\nGroupID=2\n"
                     "Name=Only\nDoors_Count=1024\nDoorsUsed=1000\nByte_Per_Data=3\nTime_Per_Door=50\nInfo_Bytes=4\n"
                     "[ChannelGroup1]\nGroupID=2\n[Airins]\nRecordID=98\nTimeOut=100\n"
                     "[InfoBytes]\nLaserFrequ.=U:Hz,O:0,B:16,S:0,CODE:FREQ\n");
  seeds.emplace_back("odd-values.ini",
                     "\xEF\xBB\xBF[General]\r\nName=Odd 1\r\n[Instruments]\r\nAirins=yes\r\n"
                     "[ChannelGroup1]\r\nGroupID=0\r\nPeriodMin=12,5\r\n[ChannelGroup2]\r\nGroupID=-1\r\n"
                     "[Channel1]\r\nRecordID=5\r\nName=a\r\nUSB=U1\r\nProtocol=serial\r\nColor=#40c0FF\r\n"
                     "[Channel2]\r\nRecordID=5\r\nName=B\r\nUSB=U2\r\nProtocol=lidar\r\nPolarization=i\r\n"
                     "DoorsCount=16\r\nDoorsUsed=99\r\nDoorsTime=12,5\r\nOffsetTime=x\r\nColor=1,2\r\n"
                     "CH14=NAME : T ,u:C,WARNINGMIN:-1e3,MUL:2,DIV:0,PERCENT:50,INV,HIDE,X:3,FLAG\r\n"
                     "CH2=MIN:nan,MAX:inf\r\n"
                     "[Channel3]\r\nRecordID=6\r\nName=c\r\nUSB=u1\r\nProtocol=LIDAR_MONITOR\r\n");
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::DefinitionLoader

#ifndef SKYVANE_FUZZ_NO_ENTRY
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OrlaqLidar::Fuzz::WriteSeedsTo(std::getenv("FUZZ_SEED_DIR"), OrlaqLidar::Fuzz::DefinitionLoader::Seeds(
                                                                   OrlaqLidar::Fuzz::SourceDirFromEnvironment()));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return OrlaqLidar::Fuzz::DefinitionLoader::Run(data, size);
}
#endif
