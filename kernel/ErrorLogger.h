#pragma once
// The program-wide message log. A message repeating one of the few distinct
// messages seen last is counted instead of written, and the counts are
// summarised, so that a fault repeating many times a second cannot flood the
// sink, even when it shows as two or three messages taking turns.
#include <deque>
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
  const TSink& Sink() const { return sink_; }
  // Starts the 1 s timer on a loop; Detach stops it.
  void Attach(TMainLoop& loop);
  void Detach();

  void Log(const std::string& text);
  void Tick();  // the 1000 ms timer
  // Writes the summary of every pending repetition.
  void FlushRepeats();
  // Back to the initial state (tests and a restart of the message window).
  void Reset();

  // Repetitions counted and not summarised yet, over all watched messages.
  int RepeatCount() const;

  // Distinct messages watched for repetition.
  static constexpr size_t WindowSize = 8;
  // A repetition is summarised after this many, ...
  static constexpr int FlushCount = 100;
  // ... after this many seconds of repeating, ...
  static constexpr int MaxRepeatSeconds = 91;
  // ... or once it has paused this long; a message not seen for that long
  // is no longer watched (except the last one written).
  static constexpr int QuietSeconds = 31;

 private:
  struct TWatched {
    std::string Text;
    int RepeatCount = 0;
    int SecondsRepeating = 0;
    int SecondsSinceLastSeen = 0;
    TDateTime LastRepeatTime = 0;
  };
  void Flush(TWatched& watched);
  void Write(const std::string& line, const std::string& about);

  TSink sink_;
  TMainLoop* loop_ = nullptr;
  TMainLoop::TTimerId timer_ = 0;
  std::deque<TWatched> watched_;  // oldest first; the last one written at the back
  std::string lastLineAbout_;     // the message the last line written was about
};

// Entry used by every component.
void Log(const std::string& text);
// One line naming the source unit and line: unit + "[" + line + "] : " + text.
void LogAt(const char* file, int line, const std::string& text);
std::string UnitName(const char* file);

}  // namespace OrlaqLidar

#define SKV_LOG(text) ::OrlaqLidar::LogAt(__FILE__, __LINE__, (text))
