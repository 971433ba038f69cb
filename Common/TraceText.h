#pragma once
// Text forms of the trace windows: bytes of the instrument's wire rendered
// readable, and the local-time stamps of their lines and files.
#include <cstdint>
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TTraceText {
 public:
  // Printable bytes (32 to 126) are copied, except "|"; "%" is doubled;
  // every run of other bytes (and "|") is written as "[[" + two upper-case
  // hex digits per byte + "]]": 02 41 42 03 gives "[[02]]AB[[03]]".
  static std::string Render(const uint8_t* data, int length);
  static std::string Render(const std::string& bytes);

  // The local time of a UTC date-time, as the operator's clock shows it.
  static TDateTime ToLocal(TDateTime utc);
  // "yyyy/mm/dd,hh:nn:ss.zzz;" in front of a shown line.
  static std::string LineStamp(TDateTime local);
  // "dd/mm/yyyy,hh:nn:ss.zzz," in front of a line written to a file.
  static std::string FileStamp(TDateTime local);
};

}  // namespace OrlaqLidar
