#include "Common/CommTraceLog.h"

#include <system_error>

#include "Common/TraceText.h"

namespace OrlaqLidar {

TCommTraceLog::TCommTraceLog(TLineAppendFile::TPause pause) : file_({}, std::move(pause)) {}

TCommTraceLog::TResult TCommTraceLog::Trace(const std::string& source, int kind, const uint8_t* data, int length,
                                            TDateTime time, TDateTime localNow) {
  TResult result;
  if (!Sources.Admit(source, result.SourceAdded)) return result;
  const std::string text = TTraceText::Render(data, length);
  TRow row{FormatDateTime(time), source, static_cast<char>(kind), length, text.substr(0, MessageChars)};
  result.RowsRemoved = rows_.Add(std::move(row));
  result.RowAdded = true;
  if (LogToFile && file_.IsSet())
    file_.Append(source + " " + static_cast<char>(kind) + "[" + std::to_string(length) + "]" + text, localNow);
  return result;
}

bool TCommTraceLog::SetLogFolder(const std::string& folder) {
  file_.SetPath({});
  if (folder.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec || !std::filesystem::is_directory(folder, ec)) return false;
  file_.SetPath(std::filesystem::path(folder) / LogFileName);
  return true;
}

}  // namespace OrlaqLidar
