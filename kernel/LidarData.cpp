#include "kernel/LidarData.h"

#include <limits>
#include <string>

#include "kernel/DataNotValid.h"
#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

namespace {
constexpr const char* Unit = "kernel\\LidarData";
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
}  // namespace

long long TLidarData::ExpectedLength(const TChannelConfig& channel) {
  if (channel.DoorsCount < 0 || channel.DoorsByte < 0 || channel.InfoBytes < 0) return -1;
  return static_cast<long long>(channel.DoorsCount) * channel.DoorsByte + channel.InfoBytes;
}

TLidarData::TLidarData(const TChannelConfig* channel, const uint8_t* data, size_t length)
    : TLidarInfo(channel), data_(data), length_(length) {
  if (!channel || !data) return;
  const long long expected = ExpectedLength(*channel);
  valid_ = expected >= 0 && static_cast<unsigned long long>(expected) == length;
  if (!valid_)
    SKV_LOG("Lidar Data have not the expected length (" + std::to_string(length) + "/" +
            std::to_string(expected) + ")");
}

bool TLidarData::FirstDoor() {
  doorIndex_ = 0;
  return valid_;
}

bool TLidarData::NextDoor() {
  const int used = channel_ ? channel_->DoorsUsed : 0;
  if (doorIndex_ >= used - 1) return false;
  ++doorIndex_;
  return valid_ && doorIndex_ < used;
}

uint64_t TLidarData::GetDoor() const {
  if (!valid_ || !data_) throw EDataNotValid(Unit, __LINE__);
  // DoorsUsed may exceed DoorsCount in a careless definition: never read
  // a gate the record does not have.
  if (doorIndex_ < 0 || doorIndex_ >= channel_->DoorsCount) throw EDataNotValid(Unit, __LINE__);
  const size_t width = static_cast<size_t>(channel_->DoorsByte);
  const uint8_t* p = data_ + static_cast<size_t>(doorIndex_) * width;
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | p[i];
  return v;
}

double TLidarData::GetValue() const {
  if (!valid_ || !data_) throw EDataNotValid(Unit, __LINE__);
  const TInfoDescription* d = Current();
  if (!d) return NaN;
  const long long bits = static_cast<long long>(d->B) + d->S;
  if (d->O < 0 || d->B < 0 || d->S < 0 || bits > 64) return NaN;
  const long long start =
      static_cast<long long>(channel_->DoorsCount) * channel_->DoorsByte + static_cast<long long>(d->O);
  const long long count = (bits + 7) / 8;
  if (start + count > static_cast<long long>(length_)) return NaN;

  uint64_t raw = 0;
  for (long long i = 0; i < count; ++i) raw = (raw << 8) | data_[start + i];
  raw = d->S >= 64 ? 0 : raw >> d->S;
  if (d->B < 64) raw &= (uint64_t{1} << d->B) - 1;
  return Calibrate(*d, static_cast<double>(raw));
}

}  // namespace OrlaqLidar
