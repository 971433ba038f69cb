#pragma once
// Persistent application settings (section "Skyvane" of the settings store)
// and the run-time flags the application object sets.
#include <string>

#include "Common/CustomIniFile.h"
#include "Config/ExportConfig.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"

namespace OrlaqLidar {

class TApplicationConfig {
 public:
  // store: the settings store opened on the product root ("SOFTWARE\Orlaq").
  bool Load(const TCustomIniFile& store);
  bool Save(TCustomIniFile& store) const;
  // Reads the instrument definition from its file and the setup from the
  // store, then loads the calibrations; true when any of the three worked.
  bool LoadInstrument(const TCustomIniFile& store, const TCustomIniFile& definition);
  // Rebuilds the calibrations from ConfigFolder and the channels of the
  // definition; true when at least one calibration was loaded.
  bool ReloadCalibrations();

  std::string DefinitionText;
  TLidarSetup Setup;
  TLidarConfig LidarConfig;
  // Profile processing settings: mask of the S, B, A, O, R2 levels and
  // profile time in seconds.
  int ProcessingMask = 55;
  int ProfileTime = 60;

  bool DebugMode = false;
  bool FullRange = false;
  bool AutoConnect = true;
  bool LogToFile = false;
  bool AcquisitionMode = true;
  bool ExportMode = false;
  bool BatchExport = false;
  bool AutoExport = false;
  bool AutoPower = false;
  bool EnableAirins = false;
  std::string LogFolder;
  std::string ApplicationFolder;
  std::string StartFolder;
  std::string ConfigFolder;
  std::string DataFolder;
  std::string CurrentInstrument;
  // Export settings (section "Skyvane\Export"), copied when an export starts.
  TExportConfig Export;
  int TimerPeriod = 100;

  static constexpr const char* Section = "Skyvane";
  static constexpr const char* ExportSection = "Skyvane\\Export";
  static constexpr const char* SetupSection = "Skyvane\\Setup";
};

}  // namespace OrlaqLidar
