#pragma once
// What the main window shows of the kernel's state, without the window:
// title, status-bar texts and icon, which commands are open, the
// processing-level menu's masks and the fields' limits.
#include <array>
#include <string>

#include "kernel/comm/FtdiUSB.h"

namespace OrlaqLidar {

class TStatus;

class TMainFrmState {
 public:
  struct TLevelItem {
    const char* Caption;
    int Mask;
  };
  // The radio items of "Signal processing", then the afterpulse check item.
  static const std::array<TLevelItem, 6> Levels;
  static constexpr TLevelItem AfterPulse{"Afterpulse correction [A]", 8};
  static constexpr int MaxProfileTime = 3600;
  static const char* const CaveatsText;

  // "Orlaq LIDAR - Acquisition [serial]", " - Reader" in reader mode.
  static std::string Title(bool acquisitionMode, const std::string& serialNumber);
  // Icon of status panel 2: 0 ready or done, 1 on the way (blinks), 2 idle.
  static int StatusIcon(const TStatus& status);
  // The blinking icon is left out on odd seconds of the day.
  static bool IconShown(int icon, int secondOfDay) { return icon != 1 || secondOfDay % 2 == 0; }
  // Panel 0: the export target while an export runs.
  static std::string ExportText(bool exporting, const std::string& description);

  static bool Powered(const TStatus& status);
  static bool Connected(const TStatus& status);
  static bool OpenAllowed(const TStatus& status);

  // Index of the radio item checked for a stored mask; -1 for none.
  static int LevelIndex(int storedMask);
  // The profile view's mask from the menu; the afterpulse item only
  // applies to the count rate (bit 1) and is disabled without it.
  static int LevelMask(int radioMask, bool afterPulseChecked, bool& afterPulseEnabled);
  // The text of "List USB device...".
  static std::string UsbDeviceList(const TFtdiUSB::TUSBDeviceList& devices);
  // 0 to 3600 s; what the field shows when refused.
  static int ClampProfileTime(long long seconds);
};

}  // namespace OrlaqLidar
