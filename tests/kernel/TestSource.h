#pragma once
// An acquisition source that does nothing by itself: tests dispatch its
// records, events and statuses by hand.
#include <string>

#include "kernel/LidarManager.h"

namespace OrlaqLidar::Test {

class TTestSource : public TLidarManager {
 public:
  explicit TTestSource(const std::string& name = "Test Source", bool replay = false)
      : TLidarManager(nullptr, name, replay) {}
  bool Open() override { return true; }
  bool Close() override { return true; }
  bool Start() override { return true; }
  bool Stop() override { return true; }
  bool SetPower(bool) override { return true; }
};

}  // namespace OrlaqLidar::Test
