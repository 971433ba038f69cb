#pragma once
// Deterministic main loop for tests: timers fire in simulated time, driven
// by the test, on the thread that calls Advance.
#include <map>
#include <mutex>
#include <vector>

#include "Platform/Clock.h"
#include "Platform/MainLoop.h"

namespace OrlaqLidar {

class TManualLoop : public TMainLoop {
 public:
  explicit TManualLoop(TManualClock& clock) : clock_(clock) {}

  void Post(std::function<void()> fn) override;
  TTimerId StartTimer(int periodMs, std::function<void()> fn) override;
  void StopTimer(TTimerId id) override;
  void SetIdleHandler(std::function<bool()> fn) override { idle_ = std::move(fn); }
  void Quit(int exitCode) override {
    quit_ = true;
    exitCode_ = exitCode;
  }

  // Runs every posted function, including those posted meanwhile; returns how many ran.
  int ProcessPosted();
  // Moves simulated time on by ms, firing each timer at its due time in
  // order and running posted functions after each one.
  void AdvanceMs(uint64_t ms);
  // While held, posted functions wait as behind a main loop busy elsewhere;
  // timers still fire.
  void HoldPosted(bool hold) { hold_ = hold; }
  // Calls the idle handler until it is satisfied or maxCalls is reached; returns the calls made.
  int RunIdle(int maxCalls = 1000000);

  bool QuitRequested() const { return quit_; }
  int ExitCode() const { return exitCode_; }
  size_t TimerCount() const { return timers_.size(); }

 private:
  struct Timer {
    int periodMs;
    uint64_t dueMs;
    std::function<void()> fn;
  };
  TManualClock& clock_;
  std::mutex mutex_;
  std::vector<std::function<void()>> posted_;
  std::map<TTimerId, Timer> timers_;
  std::function<bool()> idle_;
  TTimerId nextId_ = 1;
  bool quit_ = false;
  bool hold_ = false;
  int exitCode_ = 0;
};

}  // namespace OrlaqLidar
