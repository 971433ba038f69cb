#pragma once
// The main (window) thread's loop: functions posted from reader threads run
// there in order, periodic timers, and an idle handler.
#include <functional>

namespace OrlaqLidar {

class TMainLoop {
 public:
  using TTimerId = int;
  virtual ~TMainLoop() = default;

  // Thread-safe; posted functions run on the main thread in posting order.
  virtual void Post(std::function<void()> fn) = 0;
  // Calls fn every periodMs on the main thread until stopped. Ids are > 0.
  virtual TTimerId StartTimer(int periodMs, std::function<void()> fn) = 0;
  virtual void StopTimer(TTimerId id) = 0;
  // Called when nothing else is pending; returns true while it wants to be
  // called again. An empty function removes the handler.
  virtual void SetIdleHandler(std::function<bool()> fn) = 0;
  // Ends the loop's run with an exit code.
  virtual void Quit(int exitCode) = 0;
};

}  // namespace OrlaqLidar
