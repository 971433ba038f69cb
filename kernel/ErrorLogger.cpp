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
  if (text == lastMessage_) {
    ++repeatCount_;
    secondsSinceLastRepeat_ = 0;
    lastRepeatTime_ = now;
    if (repeatCount_ >= 100) FlushRepeats();
    return;
  }
  FlushRepeats();
  lastMessage_ = text;
  sink_(FormatDateTime(now) + " > " + text);
}

void TErrorLogger::FlushRepeats() {
  if (!sink_ || repeatCount_ <= 0) return;
  std::string line;
  if (repeatCount_ == 1 && lastRepeatTime_ != 0)
    line = FormatDateTime(lastRepeatTime_) + " > " + lastMessage_;
  else
    line = FormatDateTime(Services().Clock->NowUTC()) + " repeated " + std::to_string(repeatCount_) + " time(s)";
  repeatCount_ = 0;
  secondsRepeating_ = 0;
  secondsSinceLastRepeat_ = 0;
  sink_(line);
}

void TErrorLogger::Tick() {
  if (repeatCount_ <= 0) return;
  ++secondsRepeating_;
  ++secondsSinceLastRepeat_;
  if (secondsRepeating_ >= 91 || secondsSinceLastRepeat_ >= 31) FlushRepeats();
}

void TErrorLogger::Reset() {
  lastMessage_.clear();
  repeatCount_ = secondsRepeating_ = secondsSinceLastRepeat_ = 0;
  lastRepeatTime_ = 0;
}

void Log(const std::string& text) { TErrorLogger::Instance().Log(text); }

std::string UnitName(const char* file) { return std::filesystem::path(file).stem().string(); }

void LogAt(const char* file, int line, const std::string& text) {
  Log(UnitName(file) + "[" + std::to_string(line) + "] : " + text);
}

}  // namespace OrlaqLidar
