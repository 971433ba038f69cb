#pragma once
// The program-wide message log. Identical consecutive messages are counted
// and summarised so that a fault repeating many times a second cannot flood
// the sink.
#include <functional>
#include <string>

#include "Common/DateTime.h"
#include "Platform/MainLoop.h"

namespace OrlaqLidar {

class TErrorLogger {
 public:
  using TSink = std::function<void(const std::string& line)>;

  static TErrorLogger& Instance();

  // Without a sink every message is dropped (no window yet, or gone).
  void SetSink(TSink sink) { sink_ = std::move(sink); }
  bool HasSink() const { return static_cast<bool>(sink_); }
  // Starts the 1 s timer on a loop; Detach stops it.
  void Attach(TMainLoop& loop);
  void Detach();

  void Log(const std::string& text);
  void Tick();  // the 1000 ms timer
  void FlushRepeats();
  // Back to the initial state (tests and a restart of the message window).
  void Reset();

  int RepeatCount() const { return repeatCount_; }

 private:
  TSink sink_;
  TMainLoop* loop_ = nullptr;
  TMainLoop::TTimerId timer_ = 0;
  std::string lastMessage_;
  int repeatCount_ = 0;
  int secondsRepeating_ = 0;
  int secondsSinceLastRepeat_ = 0;
  TDateTime lastRepeatTime_ = 0;
};

// Entry used by every component.
void Log(const std::string& text);
// One line naming the source unit and line: unit + "[" + line + "] : " + text.
void LogAt(const char* file, int line, const std::string& text);
std::string UnitName(const char* file);

}  // namespace OrlaqLidar

#define SKV_LOG(text) ::OrlaqLidar::LogAt(__FILE__, __LINE__, (text))
