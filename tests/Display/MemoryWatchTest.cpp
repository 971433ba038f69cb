// The quicklook's memory watch with the machine's figures replaced.
#include "Display/MemoryWatch.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

class MemoryWatchTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  // Slices starting at columns 0, 60, 120, ...; memory is short while
  // more than `keep` remain.
  TMemoryWatch::TPanels Panels() {
    TMemoryWatch::TPanels p;
    p.EarliestStart = [this] { return starts.empty() ? int64_t(-1) : starts.front(); };
    p.DropUpTo = [this](int64_t column) {
      int n = 0;
      while (!starts.empty() && starts.front() <= column) starts.erase(starts.begin()), ++n;
      return n;
    };
    return p;
  }
  std::vector<int64_t> starts{0, 60, 120, 180, 240};
  TMemoryWatch watch;
};

TEST_F(MemoryWatchTest, DropsTheOldestSlicesUntilMemoryIsNoLongerShort) {
  size_t keep = 2;
  watch.SetProbe([&] { return TMemoryFigures{starts.size() > keep ? 100u : 4000u, 0, 200}; }, [] { return true; });
  EXPECT_EQ(watch.Check(false, Panels()), 3);
  EXPECT_EQ(starts, (std::vector<int64_t>{180, 240}));
  EXPECT_TRUE(LogLines.empty());
  // Plenty of memory: nothing dropped.
  EXPECT_EQ(watch.Check(false, Panels()), 0);
  // A failed drawing counts on the first pass only.
  EXPECT_EQ(watch.Check(true, Panels()), 1);
}

TEST_F(MemoryWatchTest, ARefusedTestAllocationLowersTheLimitAndNothingLeftIsLogged) {
  watch.SetDebug(true);
  watch.SetProbe([] { return TMemoryFigures{4000, 0, 200}; }, [] { return false; });
  EXPECT_EQ(watch.Check(false, Panels()), 5);
  EXPECT_EQ(watch.LimitMB(), TMemoryWatch::StartLimitMB - 60);  // six passes, the last finding nothing
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.front().find("Memory : Try:0, Done:0, Trim:1, Decr:1, Limit:1700MB, Phys:4000MB"),
            std::string::npos)
      << LogLines.front();
  EXPECT_NE(LogLines.back().find("Can't revover sufficient memory in garbage collecting!! Done=5"), std::string::npos)
      << LogLines.back();
}

}  // namespace
}  // namespace OrlaqLidar
