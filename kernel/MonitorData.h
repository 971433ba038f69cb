#pragma once
// View over one monitoring record: one 8-byte float in machine byte order
// per information description, in description order.
#include <cstddef>
#include <cstdint>

#include "kernel/LidarInfo.h"

namespace OrlaqLidar {

class TMonitorData : public TLidarInfo {
 public:
  TMonitorData(const TChannelConfig* channel, const uint8_t* data, size_t length);

  // Throws EDataNotValid on an invalid view.
  double GetValue() const override;
  int ValueCount() const { return valueCount_; }

 private:
  int valueCount_ = 0;
  const uint8_t* data_ = nullptr;
};

}  // namespace OrlaqLidar
