#pragma once
// What an export format needs from its owner besides the parameters: the
// instrument definition and setup the data comes from, and the processing
// the exported profiles went through. None of it is owned.
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Export/ExportProcessing.h"

namespace OrlaqExport {

struct TExportArguments {
  const OrlaqLidar::TLidarConfig* Definition = nullptr;
  const OrlaqLidar::TLidarSetup* Setup = nullptr;
  TExportProcessing Processing;
};

}  // namespace OrlaqExport
