#pragma once
// View over one lidar record (a shot): DoorsCount big-endian photon counts
// of DoorsByte bytes each, followed by InfoBytes information bytes.
#include <cstddef>
#include <cstdint>

#include "kernel/LidarInfo.h"

namespace OrlaqLidar {

class TLidarData : public TLidarInfo {
 public:
  // A block whose length is not the channel's record length gives an
  // invalid view and one log line; nothing is thrown.
  TLidarData(const TChannelConfig* channel, const uint8_t* data, size_t length);

  // Cursor over the DoorsUsed gates.
  bool FirstDoor();
  bool NextDoor();
  int DoorIndex() const { return doorIndex_; }
  // Count of the current gate. Throws EDataNotValid on an invalid view.
  uint64_t GetDoor() const;

  // Information field: O bytes after the gates, B bits wide, S bits above
  // the least significant bit of the big-endian bytes read. A field that
  // reaches past the record or is wider than 64 bits gives NaN.
  double GetValue() const override;

  // DoorsCount * DoorsByte + InfoBytes; -1 for a nonsensical definition.
  static long long ExpectedLength(const TChannelConfig& channel);

  const uint8_t* Data() const { return data_; }
  size_t Length() const { return length_; }

 private:
  int doorIndex_ = 0;
  const uint8_t* data_ = nullptr;
  size_t length_ = 0;
};

}  // namespace OrlaqLidar
