#pragma once
// The working copy of the export settings taken when an export starts, so
// that edits of the settings during an export apply only at the next start.
#include <cstdint>
#include <string>

#include "Config/ExportConfig.h"

namespace OrlaqExport {

class TExportParameters {
 public:
  TExportParameters() : TExportParameters(OrlaqLidar::TExportConfig{}) {}
  explicit TExportParameters(const OrlaqLidar::TExportConfig& config);

  // The first character of ColumnDelimiter, a comma when it is empty.
  char Delimiter() const { return ColumnDelimiter.empty() ? ',' : ColumnDelimiter.front(); }

  OrlaqLidar::TProcessingSetup Processing;
  std::string Type;
  std::string Folder;
  std::string FilePattern;
  std::string ColumnDelimiter;
  bool LogMonitoring = true;
  int MinutesSlice = 10;
  uint8_t DateFormat = 0;
};

}  // namespace OrlaqExport
