#include "Export/ExportProcessing.h"

#include "Common/StringUtils.h"

namespace OrlaqExport {

std::string TExportProcessing::ToCode(int flags) {
  std::string code = (flags & FlagSensor) ? "S" : "R";
  if (flags & FlagBackground) code += "B";
  if (flags & FlagAfterPulse) code += "A";
  if (flags & FlagOverlap) code = "O" + code;
  if (flags & FlagRange2) code += "R2";
  return code;
}

int TExportProcessing::FromCode(const std::string& code) {
  const std::string up = OrlaqLidar::UpperCase(code);
  const auto has = [&up](const char* s) { return up.find(s) != std::string::npos; };
  int flags = has("S") ? FlagParsed | FlagSensor : FlagParsed;
  if (has("B")) flags |= FlagBackground;
  if (has("R2")) flags |= FlagRange2;
  if (has("O")) flags |= FlagOverlap;
  if (has("A")) flags |= FlagAfterPulse;
  return flags;
}

}  // namespace OrlaqExport
