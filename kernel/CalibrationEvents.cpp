#include "kernel/CalibrationEvents.h"

#include "Platform/Services.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

namespace {
// Events of the instrument as a whole, not of one channel.
constexpr int InstrumentSourceId = 0;
}  // namespace

TCalibrationEvents::TCalibrationEvents(TLidarManager* source, std::string startCode, std::string endCode)
    : source_(source), startCode_(std::move(startCode)), endCode_(std::move(endCode)) {}

bool TCalibrationEvents::Recording() const { return source_ && !source_->IsReplay(); }

bool TCalibrationEvents::Begin(const std::string& comment) {
  if (open_ || !Recording()) return false;
  source_->SendEvent(InstrumentSourceId, Services().Clock->NowUTC(), startCode_, comment);
  open_ = true;
  return true;
}

bool TCalibrationEvents::End(const std::string& comment) {
  if (!open_) return false;
  open_ = false;
  if (!source_) return false;
  source_->SendEvent(InstrumentSourceId, Services().Clock->NowUTC(), endCode_, comment);
  return true;
}

}  // namespace OrlaqLidar
