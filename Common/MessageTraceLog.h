#pragma once
// What the message-trace window keeps of the message log: its last lines,
// optionally stamped with the local time, and, while auto-save is on, every
// line copied to the chosen file.
#include <filesystem>
#include <string>

#include "Common/BoundedList.h"
#include "Common/DateTime.h"
#include "Common/LineAppendFile.h"

namespace OrlaqLidar {

class TMessageTraceLog {
 public:
  static constexpr int DefaultMaximum = 1000;

  explicit TMessageTraceLog(TLineAppendFile::TPause pause = {});

  // Adds one message; returns how many of the oldest lines were removed.
  size_t Add(const std::string& text, TDateTime localNow);
  // 0 or less keeps every line; a lower maximum trims at once.
  size_t SetMaximum(int maximum) { return lines_.SetMaximum(maximum); }
  int Maximum() const { return lines_.Maximum(); }
  void Clear() { lines_.Clear(); }

  // Auto-save to that file; an empty path switches it off.
  void SetAutoSave(std::filesystem::path file) { saveFile_.SetPath(std::move(file)); }
  bool AutoSave() const { return saveFile_.IsSet(); }
  const std::filesystem::path& SaveFile() const { return saveFile_.Path(); }
  // Every line kept, CR LF after each; an older file is kept as ".bak".
  bool SaveTo(const std::filesystem::path& file) const;

  bool AutoScroll = true;
  bool AutoOpen = true;
  bool TimeStamps = false;
  const TBoundedList<std::string>& Lines() const { return lines_; }

 private:
  TBoundedList<std::string> lines_{DefaultMaximum};
  TLineAppendFile saveFile_;
};

}  // namespace OrlaqLidar
