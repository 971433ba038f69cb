#pragma once
// Runs one export: a data manager of its own, with the export's processing
// settings, accumulates the source's records into profiles independently
// of the displays, and an export format writes what it delivers. Made by
// the automatic export, the manual export of replayed files and the batch
// export; destroying it stops the export.
#include <memory>
#include <string>

#include "Export/ExportParameters.h"
#include "Export/ExportTemplate.h"
#include "kernel/Profile.h"
#include "kernel/processing/DataManager.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar {
class TApplicationConfig;
class TLidarManager;
}  // namespace OrlaqLidar

namespace OrlaqExport {

class TExportManager {
 public:
  // settings: the application's (instrument definition and setup); source:
  // the acquisition source whose records are exported. Neither is owned.
  TExportManager(OrlaqLidar::TApplicationConfig& settings, OrlaqLidar::TLidarManager* source);
  ~TExportManager();
  TExportManager(const TExportManager&) = delete;
  TExportManager& operator=(const TExportManager&) = delete;

  // Once per manager; the parameters must outlive it. False, with the
  // reason logged and kept in StartError, for an export type no format
  // writes or settings its format refuses.
  bool Start(const TExportParameters* parameters);
  const std::string& StartError() const { return startError_; }
  // The open export file, or "no export" without a format.
  std::string GetDescription() const;

  // The format for an export type ("Text", "SCC", "CF"; case-insensitive), or null.
  static std::unique_ptr<TExportTemplate> CreateFormat(const std::string& type);

  void OnProfile(const OrlaqLidar::TProfile& profile);
  void OnRawData(int recordId, const uint8_t* data, int length, OrlaqLidar::TDateTime time);
  void OnEvent(int sourceId, const std::string& code, OrlaqLidar::TDateTime time, const std::string& comment);

  // Before Start: a batch export, with no window to show the files in the
  // meantime, may do its heavy work on a second thread.
  void SetWorkBehind(bool on) { workBehind_ = on; }
  // Writes every line still queued and counts those that failed.
  void Flush();
  // Deliveries the format could not write; a batch run that lost any is
  // not a success.
  long long Failures() const { return failures_; }
  OrlaqLidar::TDataManager* DataManager() const { return dataManager_.get(); }

 private:
  void Failed(const char* text);

  OrlaqLidar::TApplicationConfig& settings_;
  OrlaqLidar::TLidarManager* source_ = nullptr;
  std::unique_ptr<OrlaqLidar::TProcessingArgs> arguments_;
  std::unique_ptr<OrlaqLidar::TProcessingArgs> calibrationArguments_;
  std::unique_ptr<OrlaqLidar::TDataManager> dataManager_;
  std::unique_ptr<TExportTemplate> format_;
  long long failures_ = 0;
  bool workBehind_ = false;
  std::string startError_;
};

}  // namespace OrlaqExport
