#include "Export/ExportParameters.h"

namespace OrlaqExport {

TExportParameters::TExportParameters(const OrlaqLidar::TExportConfig& config)
    : Processing(config.Processing),
      Type(config.Type),
      Folder(config.Folder),
      FilePattern(config.FilePattern),
      ColumnDelimiter(config.ColumnDelimiter),
      LogMonitoring(config.LogMonitoring),
      MinutesSlice(config.MinutesSlice),
      DateFormat(config.DateFormat),
      SccStation(config.SccStation),
      SccChannelIDs(config.SccChannelIDs),
      Institution(config.Institution) {}

}  // namespace OrlaqExport
