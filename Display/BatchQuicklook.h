#pragma once
// The daily quicklook pictures of a batch run: a data manager of its own
// (60 s profiles, every correction) on the replay source feeds one PNG per
// lidar channel and UTC day into a folder.
#include <memory>
#include <string>

#include "Display/DailyQuicklook.h"
#include "kernel/processing/DataManager.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar {

class TApplicationConfig;
class TLidarManager;

class TBatchQuicklook {
 public:
  TBatchQuicklook(TLidarManager& source, TApplicationConfig& settings, const std::string& folder);
  ~TBatchQuicklook();

  // Writes the pictures of the days still open; false when one failed.
  bool Finish();
  const TDailyQuicklook& Pictures() const { return pictures_; }

 private:
  TProcessingArgs arguments_;
  TDailyQuicklook pictures_;
  std::unique_ptr<TDataManager> manager_;
};

}  // namespace OrlaqLidar
