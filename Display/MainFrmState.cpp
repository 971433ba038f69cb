#include "Display/MainFrmState.h"

#include <algorithm>
#include <cstdio>

#include "kernel/Status.h"
#include "kernel/files/LidarReplay.h"

namespace OrlaqLidar {

const std::array<TMainFrmState::TLevelItem, 6> TMainFrmState::Levels = {{
    {"Raw Signal [R]", 2},
    {"Number of Photons/s [S]", 3},
    {"Background Corrected [SB]", 7},
    {"Photons/s Range corrected [SBr²]", 39},
    {"Overlap correction [OSB]", 23},
    {"Lidar Signal [OSBr²]", 55},
}};

const char* const TMainFrmState::CaveatsText =
    " This is the list of known caveats and limitations of the current version \n"
    "\n"
    "* When exploring profile of reloaded data used calibration is not the related inlined one but the one of "
    "the last profile\n"
    "* It is not possible to export a selection of data when viewing reloaded data\n"
    "* It is not possible to save opened data as a new .SKV2 file\n"
    "* NETCDF export format is not available\n"
    "* Some errors reporting are missing\n"
    "* There isn't save QL image button (currently must use screen dump)\n"
    "* It won't be possible to explore current data when acquiring\n"
    "* Software unstable on XP (will never be ported on)\n"
    "* .SKV2 file have a fixed duration of 1 hour\n"
    "\n"
    "Regards";

std::string TMainFrmState::Title(bool acquisitionMode, const std::string& serialNumber) {
  std::string t = acquisitionMode ? "Orlaq LIDAR - Acquisition" : "Orlaq LIDAR - Reader";
  if (!serialNumber.empty()) t += " [" + serialNumber + "]";
  return t;
}

int TMainFrmState::StatusIcon(const TStatus& s) {
  if (s.ReplayState() != TLidarReplay::ReplayIdle) {
    if (s.ReplayState() == TLidarReplay::ReplayDone) return 0;
    if (s.ReplayState() == TLidarReplay::ReplayLoading || s.ReplayState() == TLidarReplay::ReplayLoadingFiles)
      return 1;
    return 2;
  }
  if (s.ConnectState() == TState::Connected) return 0;
  if (s.ConnectState() == TState::Disconnected) return 2;
  return 1;
}

std::string TMainFrmState::ExportText(bool exporting, const std::string& description) {
  if (!exporting) return {};
  return description.empty() ? " [ waiting data ...]" : " [" + description + "]";
}

bool TMainFrmState::Connected(const TStatus& s) { return s.ConnectState() >= TState::Connected; }

bool TMainFrmState::Powered(const TStatus& s) {
  return s.ConnectState() >= TState::Connected && s.PowerState() >= TState::WaitingPowerOn;
}

bool TMainFrmState::OpenAllowed(const TStatus& s) { return s.PowerState() == TState::LaserOff; }

int TMainFrmState::LevelIndex(int storedMask) {
  const int without = storedMask & ~AfterPulse.Mask;
  for (size_t i = 0; i < Levels.size(); ++i)
    if (Levels[i].Mask == without) return static_cast<int>(i);
  return -1;
}

int TMainFrmState::LevelMask(int radioMask, bool afterPulseChecked, bool& afterPulseEnabled) {
  int mask = radioMask | (afterPulseChecked ? AfterPulse.Mask : 0);
  afterPulseEnabled = (mask & 1) != 0;
  if (!afterPulseEnabled) mask &= ~AfterPulse.Mask;
  return mask;
}

std::string TMainFrmState::UsbDeviceList(const TFtdiUSB::TUSBDeviceList& devices) {
  std::string text = "List of FTDI USB Devices:\n";
  for (const auto& d : devices) {
    char ids[64];
    std::snprintf(ids, sizeof ids, " ID:%08X Loc:%08X", static_cast<unsigned>(d.ID), static_cast<unsigned>(d.LocId));
    text += d.Description + " : " + d.SerialNumber + (d.Opened ? " [Open]" : "") + " Type:" + std::to_string(d.Type) +
            ids + "\n";
  }
  return text;
}

int TMainFrmState::ClampProfileTime(long long seconds) {
  return static_cast<int>(std::clamp<long long>(seconds, 0, MaxProfileTime));
}

}  // namespace OrlaqLidar
