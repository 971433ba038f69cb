#include "Common/PathSafeName.h"

namespace OrlaqLidar {

std::string PathSafeName(const std::string& name) {
  std::string s = name;
  for (char& c : s) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
                    c == '_' || c == '.';
    if (!ok) c = '_';
  }
  if (s.find_first_not_of('.') == std::string::npos) s = std::string(s.size(), '_');
  return s;
}

}  // namespace OrlaqLidar
