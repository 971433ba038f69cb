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
  // instrument definition, its setup and the processing of the profiles;
  // they come first. False from SetParameters: settings the format cannot
  // export with (Refusal says why).
  virtual bool SetArguments(const OrlaqLidar::TProcessingArgs* arguments);
  virtual bool SetParameters(const TExportParameters* parameters);
  // A raw record (monitoring, INS, shot) as the source delivered it.
  virtual bool WriteRawData(int recordId, OrlaqLidar::TDateTime time, const uint8_t* data, size_t length);
  // A completed profile; the caller passes only those.
  virtual bool WriteProfile(const OrlaqLidar::TProfile& profile);
  virtual bool WriteEvent(const OrlaqLidar::TLidarEvent& event);
  virtual bool PrepareFile() { return true; }
  // Exports of recorded files (true) can be run again after a crash, so
  // they need not make every profile durable as a live station does.
  void SetFromRecording(bool recorded) { fromRecording_ = recorded; }
  // A batch export may do its heavy work (making lines, compressing rows)
  // on a second thread; what it writes reaches the files in order, at the
  // latest by Flush or Close.
  virtual void SetWorkBehind(bool) {}
  // Writes what is still queued; returns how many profiles, records or
  // events could not be written since the last call.
  virtual long long Flush() { return 0; }
  // Whether profiles must carry their summed raw counts.
  virtual bool NeedsRawCounts() const { return false; }
  virtual bool Close() { return true; }
  virtual std::string GetDescription() const { return {}; }
  // Why SetParameters refused the settings; empty when it did not.
  const std::string& Refusal() const { return refusal_; }

  // Raises the newest data time to t when later; returns the newest.
  virtual OrlaqLidar::TDateTime NewData(OrlaqLidar::TDateTime t);
  virtual void ResetLastTime() { lastTime_ = 0; }
  virtual OrlaqLidar::TDateTime GetLastTime() const { return lastTime_; }
  virtual void SetLastTime(OrlaqLidar::TDateTime t) { lastTime_ = t; }

 protected:
  const OrlaqLidar::TProcessingArgs* arguments_ = nullptr;
  const TExportParameters* parameters_ = nullptr;
  std::string refusal_;
  bool fromRecording_ = false;

 private:
  OrlaqLidar::TDateTime lastTime_ = 0;
};

}  // namespace OrlaqExport
