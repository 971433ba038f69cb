#pragma once
// Base of the export formats: takes what an export manager delivers and
// tracks the newest data time written, which names the export file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Common/DateTime.h"
#include "Export/ExportParameters.h"
#include "kernel/LidarEvent.h"
#include "kernel/Profile.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqExport {

class TExportTemplate {
 public:
  TExportTemplate() = default;
  virtual ~TExportTemplate() = default;
  TExportTemplate(const TExportTemplate&) = delete;
  TExportTemplate& operator=(const TExportTemplate&) = delete;

  // Neither is owned; both must outlive the export. The arguments give the
  // instrument definition, its setup and the processing of the profiles.
  virtual bool SetArguments(const OrlaqLidar::TProcessingArgs* arguments);
  virtual bool SetParameters(const TExportParameters* parameters);
  // A raw record (monitoring, INS, shot) as the source delivered it.
  virtual bool WriteRawData(int recordId, OrlaqLidar::TDateTime time, const uint8_t* data, size_t length);
  // A completed profile; the caller passes only those.
  virtual bool WriteProfile(const OrlaqLidar::TProfile& profile);
  virtual bool WriteEvent(const OrlaqLidar::TLidarEvent& event);
  virtual bool PrepareFile() { return true; }
  virtual bool Close() { return true; }
  virtual std::string GetDescription() const { return {}; }

  // Raises the newest data time to t when later; returns the newest.
  virtual OrlaqLidar::TDateTime NewData(OrlaqLidar::TDateTime t);
  virtual void ResetLastTime() { lastTime_ = 0; }
  virtual OrlaqLidar::TDateTime GetLastTime() const { return lastTime_; }
  virtual void SetLastTime(OrlaqLidar::TDateTime t) { lastTime_ = t; }

 protected:
  const OrlaqLidar::TProcessingArgs* arguments_ = nullptr;
  const TExportParameters* parameters_ = nullptr;

 private:
  OrlaqLidar::TDateTime lastTime_ = 0;
};

}  // namespace OrlaqExport
