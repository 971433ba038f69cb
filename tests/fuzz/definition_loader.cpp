// libFuzzer target: the instrument definition loader, both layouts, the
// older key names and the information descriptions. The input is the text
// of a definition file. The loader either refuses it with one message
// naming the file, or accepts it without one; either way every channel it
// kept is consistent: its group exists, no two channels share a USB
// descriptor or a name, no two lidar or monitoring channels share a record
// identifier, the used gates lie within the gates of a shot and the
// information fields are at most 14 in key order. What it accepts fits a
// recorded file and a link: record identifiers (the INS one too) within a
// byte, at most 255 lidar and 255 monitoring channels, 1 to 65,536 gates, a
// receive buffer that holds one framed shot and a text of at most 65,520
// bytes. The file written back from what was read loads to the same
// result, and so does a second load after Clear. The calibrations of an
// accepted definition are built from a fixed calibration folder.
// fuzz-sources:
#include <filesystem>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Platform/Services.h"
#include "Platform/UserPrompt.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::DefinitionLoader {

const char* const kFileName = "/nonexistent/skyvane-fuzz/Instrument.ini";

struct TLoad {
  bool Accepted = false;
  std::vector<std::string> Warnings;
};

// As the program loads a definition: the size of its text first.
TLoad Load(TLidarConfig& config, const TCustomIniFile& ini, size_t textSize) {
  TRecordingPrompt prompt;
  TScopedServices services(TServices{nullptr, nullptr, &prompt, nullptr, nullptr});
  TLoad result;
  result.Accepted = config.CheckTextSize(ini.FileName(), textSize) && config.Load(ini);
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
    // Limits are checked before a channel is kept: they hold even for what
    // a refused definition kept.
    if (!IsLidarOrMonitor(c)) continue;
    FUZZ_CHECK(c.RecordID >= 0 && c.RecordID <= TChannelConfig::MaxRecordID);
    FUZZ_CHECK(c.BufferLength >= 1);
    if (c.Type() == TChannelType::Lidar) {
      FUZZ_CHECK(c.DoorsCount >= 1 && c.DoorsCount <= TChannelConfig::MaxDoorsCount);
      FUZZ_CHECK(c.BufferLength >= c.FramedShotSize());
    }
  }
  FUZZ_CHECK(config.LidarChannelCount() + config.MonitorChannelCount() <= static_cast<int>(config.Channels.size()));
  FUZZ_CHECK(config.LidarChannelCount() <= TLidarConfig::MaxChannelsOfAKind);
  FUZZ_CHECK(config.MonitorChannelCount() <= TLidarConfig::MaxChannelsOfAKind);
}

// The calibration folder every accepted definition is built against:
// channel 1 complete for up to 16 gates, channel 2 with a detector file
// too short, channel 3 with an overlap file only.
const double kAfterPulse[16] = {5, 4, 3, 2, 1, .5, .25, .125, 0, 0, 0, 0, 0, 0, 0, 1e-3};

const std::filesystem::path& CalibrationBase() {
  static const TScratchDir dir("calibrations");
  static const bool written = [] {
    const std::filesystem::path cal = dir.Path() / "CAL_00000000";
    std::string afterPulse = "# afterpulse\n", overlap;
    for (double v : kAfterPulse) afterPulse += std::to_string(v) + "\n";
    for (int i = 1; i <= 16; ++i) overlap += std::to_string(i / 16.0) + "\n";
    std::error_code ec;
    for (const char* channel : {"Channel1", "Channel2", "Channel3"})
      std::filesystem::create_directories(cal / channel, ec);
    WriteFileBytes(cal / "Channel1" / TCalibration::ApdFileName, "1\n3e-8\n250\n0.5\n");
    WriteFileBytes(cal / "Channel1" / TCalibration::AfterPulseFileName, afterPulse);
    WriteFileBytes(cal / "Channel1" / TCalibration::OverlapFileName, overlap);
    WriteFileBytes(cal / "Channel2" / TCalibration::ApdFileName, "1\n3e-8\n");
    WriteFileBytes(cal / "Channel3" / TCalibration::OverlapFileName, overlap.substr(0, overlap.size() / 2));
    return true;
  }();
  (void)written;
  return dir.Path();
}

void CheckCalibrations(const TLidarConfig& config) {
  TLidarSetup setup;
  const int loaded = setup.BuildCalibrations(CalibrationBase().string(), config.Channels);
  FUZZ_CHECK(loaded >= 0 && loaded <= config.LidarChannelCount());
  FUZZ_CHECK(setup.Calibrations.size() == config.Channels.size());
  for (size_t i = 0; i < config.Channels.size(); ++i) {
    const TChannelConfig& c = *config.Channels[i];
    const TCalibration& cal = *setup.Calibrations[i];
    FUZZ_CHECK(TCalibration::CheckIntegrity(&cal, "fuzz"));
    FUZZ_CHECK(cal.Channel == c.RecordID && cal.Type == c.Type());
    if (c.Type() != TChannelType::Lidar) {
      FUZZ_CHECK(cal.AfterPulse.empty() && cal.OverlapInverse.empty());
      continue;
    }
    const size_t gates = static_cast<size_t>(c.DoorsCount);
    FUZZ_CHECK(cal.AfterPulseCount == gates && cal.AfterPulse.size() == gates);
    FUZZ_CHECK(cal.OverlapCount == gates && cal.OverlapInverse.size() == gates);
    if (c.RecordID == 1 && gates <= std::size(kAfterPulse)) {
      FUZZ_CHECK(cal.ApdState == TCalibration::StatePresent && cal.ApdFlag == 1 && cal.ApdOffset == 250);
      FUZZ_CHECK(cal.AfterPulseState == TCalibration::StatePresent && cal.OverlapState == TCalibration::StatePresent);
      for (size_t g = 0; g < gates; ++g)
        FUZZ_CHECK(cal.AfterPulse[g] == kAfterPulse[g] && cal.OverlapInverse[g] == 16.0 / static_cast<double>(g + 1));
    }
    for (const int kind : {TCalibration::KindAfterPulse, TCalibration::KindOverlap})
      FUZZ_CHECK(cal.BuildEmbeddedBlock(kind).size() == 8 * gates);
  }
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
  const TLoad first = Load(config, ini, size);
  if (first.Accepted) {
    FUZZ_CHECK(first.Warnings.empty() && config.LoadError.empty());
    FUZZ_CHECK(size <= TLidarConfig::MaxTextSize);
    if (config.Airins)
      FUZZ_CHECK(config.AirinsConfig.RecordID >= 0 && config.AirinsConfig.RecordID <= TChannelConfig::MaxRecordID);
  } else {
    FUZZ_CHECK(first.Warnings.size() == 1 && !config.LoadError.empty());
    FUZZ_CHECK(first.Warnings[0] == "Error in file <" + std::string(kFileName) + ">\n" + config.LoadError);
  }
  CheckChannels(config);
  if (first.Accepted) CheckCalibrations(config);
  if (size > TLidarConfig::MaxTextSize) return 0;

  TIniFile written(kFileName);
  written.LoadFromText(ini.ToText());
  TLidarConfig again;
  // The text written back may differ in length; only its contents matter here.
  const TLoad second = Load(again, written, 0);
  FUZZ_CHECK(second.Accepted == first.Accepted && second.Warnings == first.Warnings);
  FUZZ_CHECK(SameConfig(config, again));

  config.Clear();
  const TLoad third = Load(config, ini, size);
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
  // Every limit reached exactly; channel 1 finds its whole calibration.
  seeds.emplace_back("at-the-limits.ini",
                     "[General]\nName=Limits\n[Instruments]\nAirins=1\n[ChannelGroup1]\nGroupID=1\n"
                     "[Channel1]\nRecordID=1\nGroupID=1\nName=near\nUSB=A\nDoorsCount=12\nDoorsByte=4\n"
                     "BufferLength=58\n[Channel2]\nRecordID=3\nGroupID=1\nName=far\nUSB=B\nDoorsCount=65536\n"
                     "DoorsByte=1\nInfoBytes=4\nBufferLength=65550\n[Channel3]\nRecordID=255\nGroupID=1\nName=mon\n"
                     "USB=C\nProtocol=LIDAR_MONITOR\nBufferLength=1\n[Airins]\nRecordID=0\n");
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::DefinitionLoader

SKYVANE_FUZZ_TARGET(DefinitionLoader, Seeds(SourceDirFromEnvironment()))
