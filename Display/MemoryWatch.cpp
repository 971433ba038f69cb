#include "Display/MemoryWatch.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

namespace {

// A value in kB of a /proc file's "Key:   1234 kB" line, in MiB.
uint64_t ProcValueMB(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::istringstream s(line.substr(key.size()));
    uint64_t kb = 0;
    s >> kb;
    return kb / 1024;
  }
  return 0;
}

bool TryAllocate() {
  // Touched, so that an overcommitting system has to find the pages.
  std::unique_ptr<char[]> block(new (std::nothrow) char[TMemoryWatch::TestAllocationMB << 20]);
  if (!block) return false;
  for (uint64_t i = 0; i < (TMemoryWatch::TestAllocationMB << 20); i += 4096) block[i] = 1;
  return true;
}

}  // namespace

TMemoryWatch::TMemoryWatch() : figures_(ReadProc), testAllocation_(TryAllocate) {}

void TMemoryWatch::SetProbe(std::function<TMemoryFigures()> figures, std::function<bool()> testAllocation) {
  figures_ = std::move(figures);
  testAllocation_ = std::move(testAllocation);
}

TMemoryFigures TMemoryWatch::ReadProc() {
  TMemoryFigures f;
  f.AvailablePhysicalMB = ProcValueMB("/proc/meminfo", "MemAvailable:");
  f.WorkingSetMB = ProcValueMB("/proc/self/status", "VmRSS:");
  f.PagefileMB = ProcValueMB("/proc/self/status", "VmSwap:");
  return f;
}

int TMemoryWatch::Check(bool failedDrawing, const TPanels& panels) {
  int dropped = 0;
  for (int pass = 0; pass < MaxPasses; ++pass) {
    const TMemoryFigures f = figures_();
    bool shortOfMemory = (pass == 0 && failedDrawing) || f.AvailablePhysicalMB < MinAvailableMB ||
                         f.WorkingSetMB > limitMB_ || f.PagefileMB > limitMB_;
    bool testFailed = false;
    if (!shortOfMemory && !testAllocation_()) shortOfMemory = testFailed = true;
    if (debug_ && (shortOfMemory || dropped > 0)) {
      char line[256];
      std::snprintf(line, sizeof line,
                    "Memory : Try:%d, Done:%d, Trim:%d, Decr:%d, Limit:%luMB, Phys:%luMB, Pagefile:%luMB, "
                    "WorkingSet:%luMB",
                    pass, dropped, shortOfMemory ? 1 : 0, testFailed ? 1 : 0, static_cast<unsigned long>(limitMB_),
                    static_cast<unsigned long>(f.AvailablePhysicalMB), static_cast<unsigned long>(f.PagefileMB),
                    static_cast<unsigned long>(f.WorkingSetMB));
      Log(line);
    }
    // A refused allocation under the limit means the limit is too high for this machine.
    if (testFailed && limitMB_ > LowestLimitMB) limitMB_ -= 10;
    if (!shortOfMemory) return dropped;
    const int64_t earliest = panels.EarliestStart();
    const int n = earliest < 0 ? 0 : panels.DropUpTo(earliest);
    dropped += n;
    if (n == 0) break;
  }
  Log("Can't revover sufficient memory in garbage collecting!! Done=" + std::to_string(dropped));
  return dropped;
}

}  // namespace OrlaqLidar
