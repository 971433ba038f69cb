#pragma once
// The processing settings an export applies: flags of the S, B, A, O, R2
// levels and the profile time, with their letter code ("OSBR2").
// Stands in for the kernel's processing settings until the export manager
// joins this library; the letter code follows the same rules.
#include <string>

namespace OrlaqExport {

struct TExportProcessing {
  static constexpr int FlagSensor = 1;
  static constexpr int FlagParsed = 2;
  static constexpr int FlagBackground = 4;
  static constexpr int FlagAfterPulse = 8;
  static constexpr int FlagOverlap = 16;
  static constexpr int FlagRange2 = 32;

  // 55 gives "OSBR2", 2 "R".
  static std::string ToCode(int flags);
  // Case-insensitive; "OSBR2" gives 55, an empty text 2.
  static int FromCode(const std::string& code);

  int Processings = 55;
  int ProfileTime = 60;  // seconds; 0 for the shortest available
};

}  // namespace OrlaqExport
