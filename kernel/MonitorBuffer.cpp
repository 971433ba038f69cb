#include "kernel/MonitorBuffer.h"

#include <algorithm>

namespace OrlaqLidar {

void TMonitorBuffer::Assign(const TChannelConfig* channel, const uint8_t* data, size_t size, TDateTime time) {
  Time = time;
  Channel = channel;
  if (Data.size() != size) Data.assign(size, 0);
  if (data && size) std::copy(data, data + size, Data.begin());
}

}  // namespace OrlaqLidar
