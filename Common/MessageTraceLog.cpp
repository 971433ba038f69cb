#include "Common/MessageTraceLog.h"

#include <optional>

#include "Common/FileUtils.h"
#include "Common/TraceText.h"

namespace OrlaqLidar {

TMessageTraceLog::TMessageTraceLog(TLineAppendFile::TPause pause) : saveFile_({}, std::move(pause)) {}

size_t TMessageTraceLog::Add(const std::string& text, TDateTime localNow) {
  if (saveFile_.IsSet()) saveFile_.Append(text, TimeStamps ? std::optional<TDateTime>(localNow) : std::nullopt);
  return lines_.Add(TimeStamps ? TTraceText::LineStamp(localNow) + text : text);
}

bool TMessageTraceLog::SaveTo(const std::filesystem::path& file) const {
  std::string text;
  for (const std::string& line : lines_.Items()) text += line + "\r\n";
  return ReplaceFileWithBackup(file, text);
}

}  // namespace OrlaqLidar
