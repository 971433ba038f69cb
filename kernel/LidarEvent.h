#pragma once
// An event of the acquisition: a note, the start or the end of a
// calibration, or anything else an instrument reports.
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TLidarEvent {
 public:
  TLidarEvent() = default;
  TLidarEvent(TDateTime time, int sourceId, std::string code, std::string comment)
      : Time(time), SourceID(sourceId), Code(std::move(code)), Comment(std::move(comment)) {}

  // Time, line feed, kind text, and the comment on its own line if any.
  std::string ToText() const;
  // "Note", "Start of After Pulse", ... ; "Event" for an unknown code.
  static std::string KindText(const std::string& code);

  TDateTime Time = 0;  // UTC
  int SourceID = 0;    // 0: the instrument as a whole
  std::string Code;
  std::string Comment;
};

}  // namespace OrlaqLidar
