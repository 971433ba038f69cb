#include "kernel/ErrorLogger.h"

#include <filesystem>

#include "Common/LogHook.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

TErrorLogger& TErrorLogger::Instance() {
  static TErrorLogger& logger = *[] {
    static TErrorLogger instance;
    // Common and Config report through the hook; it leads here.
    SetLogHook([](const std::string& text) { instance.Log(text); });
    return &instance;
  }();
  return logger;
}

void TErrorLogger::Attach(TMainLoop& loop) {
  Detach();
  loop_ = &loop;
  timer_ = loop.StartTimer(1000, [this] { Tick(); });
}

void TErrorLogger::Detach() {
  if (loop_ && timer_) loop_->StopTimer(timer_);
  loop_ = nullptr;
  timer_ = 0;
}

void TErrorLogger::Log(const std::string& text) {
  if (!sink_) return;
  const TDateTime now = Services().Clock->NowUTC();
  for (TWatched& w : watched_) {
    if (w.Text != text) continue;
    ++w.RepeatCount;
    w.SecondsSinceLastSeen = 0;
    w.LastRepeatTime = now;
    if (w.RepeatCount >= FlushCount) Flush(w);
    return;
  }
  // Something new: whatever was repeating has been interrupted.
  FlushRepeats();
  if (watched_.size() >= WindowSize) watched_.pop_front();
  watched_.push_back(TWatched{text});
  Write(FormatDateTime(now) + " > " + text, text);
}

void TErrorLogger::Write(const std::string& line, const std::string& about) {
  lastLineAbout_ = about;
  sink_(line);
}

void TErrorLogger::Flush(TWatched& w) {
  if (!sink_ || w.RepeatCount <= 0) return;
  std::string line;
  if (w.RepeatCount == 1 && w.LastRepeatTime != 0) {
    line = FormatDateTime(w.LastRepeatTime) + " > " + w.Text;
  } else {
    line = FormatDateTime(Services().Clock->NowUTC()) + " repeated " + std::to_string(w.RepeatCount) + " time(s)";
    // Right under its own line the summary needs no name; elsewhere it does.
    if (lastLineAbout_ != w.Text) line += ": " + w.Text;
  }
  w.RepeatCount = 0;
  w.SecondsRepeating = 0;
  w.SecondsSinceLastSeen = 0;
  Write(line, w.Text);
}

void TErrorLogger::FlushRepeats() {
  for (TWatched& w : watched_) Flush(w);
}

int TErrorLogger::RepeatCount() const {
  int total = 0;
  for (const TWatched& w : watched_) total += w.RepeatCount;
  return total;
}

void TErrorLogger::Tick() {
  for (TWatched& w : watched_) {
    ++w.SecondsSinceLastSeen;
    if (w.RepeatCount <= 0) continue;
    ++w.SecondsRepeating;
    if (w.SecondsRepeating >= MaxRepeatSeconds || w.SecondsSinceLastSeen >= QuietSeconds) Flush(w);
  }
  // Messages gone quiet are forgotten, so that one coming back after a
  // while is written at once. The last one written stays: its repetitions
  // are still counted, however late.
  for (size_t i = 0; i + 1 < watched_.size();) {
    const TWatched& w = watched_[i];
    if (w.RepeatCount == 0 && w.SecondsSinceLastSeen >= QuietSeconds)
      watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(i));
    else
      ++i;
  }
}

void TErrorLogger::Reset() {
  watched_.clear();
  lastLineAbout_.clear();
}

void Log(const std::string& text) { TErrorLogger::Instance().Log(text); }

std::string UnitName(const char* file) { return std::filesystem::path(file).stem().string(); }

void LogAt(const char* file, int line, const std::string& text) {
  Log(UnitName(file) + "[" + std::to_string(line) + "] : " + text);
}

}  // namespace OrlaqLidar
