#include "Config/ProcessingSetup.h"

#include "Common/StringUtils.h"

namespace OrlaqLidar {

std::string TProcessingSetup::ToCode(int flags) {
  // "O" leads whatever else is set.
  std::string code;
  if (flags & FlagOverlap) code += 'O';
  code += (flags & FlagSensor) ? 'S' : 'R';
  if (flags & FlagBackground) code += 'B';
  if (flags & FlagAfterPulse) code += 'A';
  if (flags & FlagRange2) code += "R2";
  return code;
}

int TProcessingSetup::FromCode(const std::string& code) {
  const std::string text = UpperCase(code);
  auto has = [&text](const char* letters) { return text.find(letters) != std::string::npos; };
  int flags = has("S") ? FlagParsed | FlagSensor : FlagParsed;
  if (has("B")) flags += FlagBackground;
  if (has("R2")) flags += FlagRange2;
  if (has("O")) flags += FlagOverlap;
  if (has("A")) flags += FlagAfterPulse;
  return flags;
}

}  // namespace OrlaqLidar
