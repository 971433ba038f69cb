#pragma once
// The quicklook's guard against running out of memory over a long run:
// before each completed profile it checks the figures of the machine and
// the process and drops the oldest columns of every panel until memory is
// no longer short.
#include <cstdint>
#include <functional>
#include <string>

namespace OrlaqLidar {

struct TMemoryFigures {
  uint64_t AvailablePhysicalMB = 0;
  uint64_t PagefileMB = 0;    // the process's swapped-out part
  uint64_t WorkingSetMB = 0;  // the process's resident part
};

class TMemoryWatch {
 public:
  static constexpr int MaxPasses = 50;
  static constexpr uint64_t StartLimitMB = 1700;
  static constexpr uint64_t LowestLimitMB = 512;
  static constexpr uint64_t MinAvailableMB = 300;
  static constexpr uint64_t TestAllocationMB = 10;

  // What the watch needs of the panels: the earliest slice start over all
  // of them (-1 without data) and dropping the slices beginning at or
  // before a column (returns how many were dropped).
  struct TPanels {
    std::function<int64_t()> EarliestStart;
    std::function<int(int64_t column)> DropUpTo;
  };

  TMemoryWatch();
  // Replaces the machine's figures and the test allocation (tests).
  void SetProbe(std::function<TMemoryFigures()> figures, std::function<bool()> testAllocation);
  void SetDebug(bool on) { debug_ = on; }

  // One watch; failedDrawing: a panel's drawing ran out of memory.
  // Returns the slices dropped.
  int Check(bool failedDrawing, const TPanels& panels);
  uint64_t LimitMB() const { return limitMB_; }

  // Figures of this machine and process from /proc.
  static TMemoryFigures ReadProc();

 private:
  std::function<TMemoryFigures()> figures_;
  std::function<bool()> testAllocation_;
  uint64_t limitMB_ = StartLimitMB;
  bool debug_ = false;
};

}  // namespace OrlaqLidar
