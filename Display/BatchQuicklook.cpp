#include "Display/BatchQuicklook.h"

#include "Config/ApplicationConfig.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

TBatchQuicklook::TBatchQuicklook(TLidarManager& source, TApplicationConfig& settings, const std::string& folder)
    : arguments_(TProcessingSetup(63, 60), &settings.LidarConfig, &settings.Setup), pictures_(folder) {
  manager_ = std::make_unique<TDataManager>(&arguments_, &source);
  manager_->CompletedOnly = true;
  manager_->FOnManagedDatas = [this](const TProfile& p) { pictures_.OnProfile(p); };
}

TBatchQuicklook::~TBatchQuicklook() {
  if (manager_) manager_->FOnManagedDatas = nullptr;
  manager_.reset();
}

bool TBatchQuicklook::Finish() {
  manager_->Flush();
  pictures_.Finish();
  return pictures_.Failed().empty();
}

}  // namespace OrlaqLidar
