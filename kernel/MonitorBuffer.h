#pragma once
// Copy of the latest record of one monitoring channel, kept by the data
// manager and attached to the profiles.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ChannelConfig.h"

namespace OrlaqLidar {

class TMonitorBuffer {
 public:
  virtual ~TMonitorBuffer() = default;

  // Copies a record; the storage is reallocated only when the size changes.
  void Assign(const TChannelConfig* channel, const uint8_t* data, size_t size, TDateTime time);
  int Size() const { return static_cast<int>(Data.size()); }

  const TChannelConfig* Channel = nullptr;  // not owned
  std::vector<uint8_t> Data;
  TDateTime Time = 0;
};

}  // namespace OrlaqLidar
