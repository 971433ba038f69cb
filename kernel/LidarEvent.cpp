#include "kernel/LidarEvent.h"

namespace OrlaqLidar {

std::string TLidarEvent::KindText(const std::string& code) {
  if (code == "USN") return "Note";
  if (code == "SAP") return "Start of After Pulse";
  if (code == "EAP") return "End of After Pulse";
  if (code == "SPL") return "Start Polar.Calib.";
  if (code == "EPL") return "End of Polar.Calib.";
  return "Event";
}

std::string TLidarEvent::ToText() const {
  std::string text = FormatDateTime(Time, false) + "\n" + KindText(Code);
  if (!Comment.empty()) text += "\n" + Comment;
  return text;
}

}  // namespace OrlaqLidar
