#pragma once
// Persistent export settings: where the export files go, how they are named
// and sliced, which processing is applied and what is written. Read from
// the settings store (section "Skyvane\Export") or, in batch mode, from the
// first section of an INI file.
#include <cstdint>
#include <string>

#include "Common/CustomIniFile.h"
#include "Config/ProcessingSetup.h"

namespace OrlaqLidar {

class TExportConfig {
 public:
  static constexpr const char* Section = "Skyvane\\Export";
  static constexpr const char* DefaultPattern = "%SN%_%YYYY%%MM%%DD%_%SLICE%";
  // How a tab or a blank column delimiter is stored.
  static constexpr const char* TabName = "Tabulation";
  static constexpr const char* SpaceName = "Space";

  // An absent value keeps the current one; an empty Folder, stored or
  // kept, becomes the current folder + "ExportData". Always true.
  bool Load(const TCustomIniFile& store, const std::string& section);
  // Writes all twelve keys. Always true.
  bool Save(TCustomIniFile& store, const std::string& section) const;

  TProcessingSetup Processing{55, 60};
  std::string Folder;
  std::string Type = "Text";
  std::string FilePattern = DefaultPattern;
  std::string ColumnDelimiter = ";";
  bool LogMonitoring = true;
  int MinutesSlice = 10;   // 0: no slicing
  uint8_t DateFormat = 0;  // 0 day decimal, 1 RFC3339, 2 Unix epoch
  // NetCDF exports: the network's station code, the network's channel
  // identifiers as "RecordID:ID" pairs separated by commas, and the
  // institution named in the daily files.
  std::string SccStation;
  std::string SccChannelIDs;
  std::string Institution;
};

}  // namespace OrlaqLidar
