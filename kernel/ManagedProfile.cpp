#include "kernel/ManagedProfile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace OrlaqLidar {

TManagedProfile::TManagedProfile(int channelId, const TChannelConfig* channel, TCalibration* calibration,
                                 int profileTime, TProcessingArgs* args)
    : ChannelID(channelId), Calibration(calibration), Channel(channel), ProfileTime(profileTime), Args(args) {
  if (channel) {
    DoorCount = std::max(channel->DoorsUsed, 0);
    DoorTime = channel->DoorsTime;
    OffsetTime = channel->OffsetTime;
  }
  ActiveDoors = DoorCount;
  const size_t n = static_cast<size_t>(DoorCount);
  Signal.assign(n, 0.0);
  Accumulator.assign(n, 0.0);
  RawCounts.assign(n, 0.0);
  Distance.assign(n, 0.0);
  Altitude.assign(n, 0.0);
  Reset(false);
}

bool TManagedProfile::First() {
  doorIndex_ = 0;
  return ActiveDoors > 0;
}

bool TManagedProfile::Next() {
  if (doorIndex_ >= ActiveDoors - 1) return false;
  ++doorIndex_;
  return true;
}

bool TManagedProfile::Seek(int gate) {
  if (gate < 0 || gate >= ActiveDoors) return false;
  doorIndex_ = gate;
  return true;
}

double TManagedProfile::At(const std::vector<double>& values) const {
  const size_t i = static_cast<size_t>(doorIndex_);
  return i < values.size() ? values[i] : std::numeric_limits<double>::quiet_NaN();
}

void TManagedProfile::Put(std::vector<double>& values, double v) {
  const size_t i = static_cast<size_t>(doorIndex_);
  if (i < values.size()) values[i] = v;
}

double TManagedProfile::SumSignal(int from, int to) const {
  const int active = std::min(ActiveDoors, static_cast<int>(Signal.size()));
  if (to >= active) to = active - 1;
  if (from < 0)
    from = 0;
  else if (from >= to)
    from = to - 1;
  // A profile with one gate, or a window reduced to nothing, must not read
  // before the first gate.
  from = std::max(from, 0);
  double sum = 0;
  for (int i = from; i <= to; ++i) sum += Signal[static_cast<size_t>(i)];
  return sum;
}

std::optional<TAirinsData> TManagedProfile::GetAirinsData() const {
  if (std::trunc(AirinsTime) < 1) return std::nullopt;
  return TAirinsData(AirinsRecord.data(), static_cast<size_t>(std::max(AirinsLength, 0)));
}

void TManagedProfile::Reset(bool keepAttachments) {
  StartTime = 0;
  LastTime = 0;
  doorIndex_ = 0;
  ShotRecords = 0;
  LaserShots = 0;
  RecordShots = 0;
  Open = true;
  std::fill(Signal.begin(), Signal.end(), 0.0);
  std::fill(Accumulator.begin(), Accumulator.end(), 0.0);
  std::fill(RawCounts.begin(), RawCounts.end(), 0.0);
  if (keepAttachments) return;
  AirinsRecord.fill(0);
  AirinsLength = 0;
  AirinsTime = 0;
  for (auto& [id, buffer] : MonitorRecords)
    if (buffer) std::fill(buffer->Data.begin(), buffer->Data.end(), uint8_t{0});
}

}  // namespace OrlaqLidar
