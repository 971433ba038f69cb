#include "Platform/SleepGuard.h"

namespace OrlaqLidar {

TSleepGuard::~TSleepGuard() { Update(false); }

void TSleepGuard::Update(bool awakeNeeded) {
  if (!inhibitor_) return;
  if (!awakeNeeded) {
    if (held_) inhibitor_->Release();
    held_ = refused_ = false;
    return;
  }
  if (held_ || refused_) return;
  held_ = inhibitor_->Acquire(Reason);
  refused_ = !held_;
}

}  // namespace OrlaqLidar
