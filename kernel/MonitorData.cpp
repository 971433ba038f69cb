#include "kernel/MonitorData.h"

#include <cstring>
#include <limits>

#include "kernel/DataNotValid.h"

namespace OrlaqLidar {

TMonitorData::TMonitorData(const TChannelConfig* channel, const uint8_t* data, size_t length)
    : TLidarInfo(channel), valueCount_(static_cast<int>(length / 8)), data_(data) {
  valid_ = channel && data && length % 8 == 0 && length / 8 == channel->InfoDescriptions.size();
}

double TMonitorData::GetValue() const {
  if (!valid_ || !data_) throw EDataNotValid("kernel\\LidarData", __LINE__);
  const TInfoDescription* d = Current();
  if (!d || infoIndex_ >= valueCount_) return std::numeric_limits<double>::quiet_NaN();
  double raw = 0;
  std::memcpy(&raw, data_ + static_cast<size_t>(infoIndex_) * 8, sizeof raw);
  return Calibrate(*d, raw);
}

}  // namespace OrlaqLidar
