#include "soak/SoakTally.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

TSoakTally::TSoakTally(TDateTime spanStart, uint64_t spanMs, const std::vector<int>& recordIds)
    : start_(spanStart), minutes_(static_cast<size_t>((spanMs + 59999) / 60000)) {
  for (int id : recordIds) {
    TCounts& c = channels_[id];
    c.Delivered.assign(minutes_, 0);
    c.Recorded.assign(minutes_, 0);
    c.Fault.assign(minutes_, false);
  }
}

long long TSoakTally::Minute(TDateTime t) const {
  // Whole milliseconds first, so that both counts put a time in the same minute.
  const long long ms = std::llround((t - start_) * MsPerDay);
  if (ms < 0) return -1;
  const long long m = ms / 60000;
  return m < static_cast<long long>(minutes_) ? m : -1;
}

void TSoakTally::Delivered(int recordId, TDateTime t) {
  const long long m = Minute(t);
  auto it = channels_.find(recordId);
  if (m >= 0 && it != channels_.end()) ++it->second.Delivered[static_cast<size_t>(m)];
}

void TSoakTally::Recorded(int recordId, TDateTime t) {
  const long long m = Minute(t);
  auto it = channels_.find(recordId);
  if (m >= 0 && it != channels_.end()) ++it->second.Recorded[static_cast<size_t>(m)];
}

void TSoakTally::FaultWindow(uint64_t fromMs, uint64_t toMs, const std::vector<int>& recordIds) {
  const size_t first = static_cast<size_t>(fromMs / 60000);
  const size_t last = std::min(minutes_, static_cast<size_t>((toMs + 59999) / 60000));
  for (auto& [id, c] : channels_) {
    if (!recordIds.empty() && std::find(recordIds.begin(), recordIds.end(), id) == recordIds.end()) continue;
    for (size_t m = first; m < last; ++m) c.Fault[m] = true;
  }
}

TSoakFigures::TChannel TSoakTally::Summary(int recordId) const {
  TSoakFigures::TChannel s;
  s.RecordID = recordId;
  auto it = channels_.find(recordId);
  if (it == channels_.end()) return s;
  const TCounts& c = it->second;
  for (size_t m = 0; m < minutes_; ++m) {
    s.Delivered += c.Delivered[m];
    s.Recorded += c.Recorded[m];
    if (c.Recorded[m] > c.Delivered[m]) {
      s.Extra += c.Recorded[m] - c.Delivered[m];
      continue;
    }
    const uint32_t missing = c.Delivered[m] - c.Recorded[m];
    (c.Fault[m] ? s.MissingInFaults : s.MissingOutside) += missing;
  }
  return s;
}

}  // namespace OrlaqLidar
