#pragma once
// The far side of the INS link over the fake sockets, in simulated time:
// accepts the program's connection and streams navigation frames at a
// steady rate; taken down, it closes the connection and refuses new ones.
#include <cstdint>
#include <functional>

#include "Platform/Clock.h"
#include "Platform/FakeSocketFactory.h"
#include "Platform/MainLoop.h"
#include "Simulator/SimInsServer.h"

namespace OrlaqLidar {

class TSoakIns {
 public:
  TSoakIns(TFakeSocketFactory& sockets, TMainLoop& loop, const TClock& clock, int rateHz);
  ~TSoakIns();
  TSoakIns(const TSoakIns&) = delete;
  TSoakIns& operator=(const TSoakIns&) = delete;

  void SetUp(bool up);
  bool Up() const { return up_; }
  bool Connected() const;
  // Connections accepted so far.
  int Accepted() const { return accepted_; }

  // One frame went to the program.
  std::function<void()> OnDelivered;

 private:
  void Step();

  TFakeSocketFactory& sockets_;
  TMainLoop& loop_;
  const TClock& clock_;
  TSimInsServer::TSettings settings_;
  TMainLoop::TTimerId timer_ = 0;
  uint64_t startTick_ = 0;
  bool up_ = true;
  int accepted_ = 0;
};

}  // namespace OrlaqLidar
