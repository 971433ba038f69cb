#pragma once
// Records counted minute by minute over the span, per channel: those the
// simulator delivered and those found in the files. A minute touched by a
// fault window of the channel may miss records; any other must match.
#include <cstdint>
#include <map>
#include <vector>

#include "Common/DateTime.h"
#include "soak/SoakFigures.h"

namespace OrlaqLidar {

class TSoakTally {
 public:
  TSoakTally(TDateTime spanStart, uint64_t spanMs, const std::vector<int>& recordIds);

  // Times outside the span are not counted.
  void Delivered(int recordId, TDateTime t);
  void Recorded(int recordId, TDateTime t);
  // [fromMs, toMs) of the span; an empty list of channels means all.
  void FaultWindow(uint64_t fromMs, uint64_t toMs, const std::vector<int>& recordIds = {});

  TSoakFigures::TChannel Summary(int recordId) const;

 private:
  struct TCounts {
    std::vector<uint32_t> Delivered, Recorded;
    std::vector<bool> Fault;
  };
  long long Minute(TDateTime t) const;

  TDateTime start_;
  size_t minutes_;
  std::map<int, TCounts> channels_;
};

}  // namespace OrlaqLidar
