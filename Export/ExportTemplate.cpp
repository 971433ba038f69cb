#include "Export/ExportTemplate.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

bool TExportTemplate::SetArguments(const TProcessingArgs* arguments) {
  arguments_ = arguments;
  return true;
}

bool TExportTemplate::SetParameters(const TExportParameters* parameters) {
  parameters_ = parameters;
  return true;
}

bool TExportTemplate::WriteRawData(int, TDateTime time, const uint8_t*, size_t) {
  NewData(time);
  return true;
}

bool TExportTemplate::WriteProfile(const TProfile& profile) {
  NewData(profile->StartTime);
  return true;
}

bool TExportTemplate::WriteEvent(const TLidarEvent& event) {
  NewData(event.Time);
  return true;
}

TDateTime TExportTemplate::NewData(TDateTime t) {
  if (t > lastTime_) lastTime_ = t;
  return lastTime_;
}

}  // namespace OrlaqExport
