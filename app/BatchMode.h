#pragma once
// The unattended batch export: the files named on the command line are
// replayed as fast as they can be read and exported with the settings of
// the INI file named by "-EXPCONFIG", then the program ends. Run and
// Export return 0 on success, -1 without export mode, -2 without files,
// -3 when input was refused or the export could not write; the process
// exit status is their low byte (0, 255, 254, 253).
#include <ostream>
#include <string>

#include "Config/ExportConfig.h"

namespace OrlaqLidar {

class TLidarApplication;
class TLidarReplay;

class TBatchMode {
 public:
  // progress: a progress line redrawn on err (a terminal, not quiet).
  TBatchMode(TLidarApplication& app, std::ostream& err, bool progress);

  // Loads the named files into the replay source.
  int Run();
  // Exports the loaded files; Run must have returned 0. Without an export
  // wanted the files are only replayed (for other consumers of the source).
  int Export();
  void SetExportWanted(bool wanted) { exportWanted_ = wanted; }

  const TExportConfig& Settings() const { return settings_; }
  // Why the settings cannot be used; empty when they can.
  const std::string& SettingsError() const { return settingsError_; }

 private:
  void LoadSettings(const std::string& file);
  bool Refuse(const std::string& why);
  // The export folder and pattern checked and made ready; -3 when refused.
  int PrepareExport();
  bool UseRecordedDefinition(const TLidarReplay& replay);

  TLidarApplication& app_;
  std::ostream& err_;
  bool progress_;
  bool exportWanted_ = true;
  TExportConfig settings_;
  std::string settingsError_;
};

}  // namespace OrlaqLidar
