#pragma once
// Base of the export formats: takes what an export manager delivers and
// tracks the newest data time written, which names the export file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Common/DateTime.h"
#include "Export/ExportArguments.h"
#include "Export/ExportParameters.h"
#include "Export/ExportProfile.h"
#include "kernel/LidarEvent.h"

namespace OrlaqExport {

class TExportTemplate {
 public:
  TExportTemplate() = default;
  virtual ~TExportTemplate() = default;
  TExportTemplate(const TExportTemplate&) = delete;
  TExportTemplate& operator=(const TExportTemplate&) = delete;

  // Neither is owned; both must outlive the export.
  virtual bool SetArguments(const TExportArguments* arguments);
  virtual bool SetParameters(const TExportParameters* parameters);
  // A raw record (monitoring, INS, shot) as the source delivered it.
  virtual bool WriteRawData(int recordId, OrlaqLidar::TDateTime time, const uint8_t* data, size_t length);
  // A completed profile; the caller passes only those.
  virtual bool WriteProfile(const TExportProfile& profile);
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
  const TExportArguments* arguments_ = nullptr;
  const TExportParameters* parameters_ = nullptr;

 private:
  OrlaqLidar::TDateTime lastTime_ = 0;
};

}  // namespace OrlaqExport
