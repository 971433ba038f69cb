#pragma once
// What the communication-details window keeps: the trace rows of the
// sources the operator chose, at most MaxRows of them, and, when asked,
// every shown trace copied to "CommLog.txt" in the log folder.
#include <cstdint>
#include <filesystem>
#include <string>

#include "Common/BoundedList.h"
#include "Common/DateTime.h"
#include "Common/LineAppendFile.h"
#include "Common/TraceSourceList.h"

namespace OrlaqLidar {

class TCommTraceLog {
 public:
  static constexpr int MaxRows = 5000;
  static constexpr size_t MessageChars = 300;
  static constexpr const char* LogFileName = "CommLog.txt";

  struct TRow {
    std::string Time;  // the trace's own (UTC) time
    std::string Source;
    char Kind = 0;     // 'S' system, '>' sent, '<' received, '=' status change
    int Length = 0;
    std::string Message;  // the rendered bytes, cut to MessageChars
  };
  struct TResult {
    bool SourceAdded = false;
    bool RowAdded = false;
    size_t RowsRemoved = 0;  // the oldest rows, dropped to make room
  };

  explicit TCommTraceLog(TLineAppendFile::TPause pause = {});

  // One trace of a channel, the instrument or the INS link. localNow stamps
  // the line of the log file.
  TResult Trace(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time,
                TDateTime localNow);
  void Clear() { rows_.Clear(); }

  // The log file is LogFileName in that folder, which is created with its
  // parents when missing. An empty folder, or one that cannot be created,
  // leaves no log file: false then.
  bool SetLogFolder(const std::string& folder);
  const std::filesystem::path& LogFile() const { return file_.Path(); }

  bool LogToFile = false;
  TTraceSourceList Sources;
  const TBoundedList<TRow>& Rows() const { return rows_; }

 private:
  TBoundedList<TRow> rows_{MaxRows};
  TLineAppendFile file_;
};

}  // namespace OrlaqLidar
