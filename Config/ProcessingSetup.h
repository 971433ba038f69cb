#pragma once
// Which processings run on a profile (flags held as bits, shown as a
// letter code such as "OSBR2") and how long a profile accumulates.
#include <string>

namespace OrlaqLidar {

class TProcessingSetup {
 public:
  static constexpr int FlagSensor = 1;      // "S" (absent: "R"): dead-time corrected count rate
  static constexpr int FlagParsed = 2;      // set by FromCode, selects nothing
  static constexpr int FlagBackground = 4;  // "B": sky background
  static constexpr int FlagAfterPulse = 8;  // "A": detector afterpulse
  static constexpr int FlagOverlap = 16;    // "O": overlap
  static constexpr int FlagRange2 = 32;     // "R2": range-squared

  TProcessingSetup() = default;
  TProcessingSetup(int processings, int profileTime) : Processings(processings), ProfileTime(profileTime) {}
  virtual ~TProcessingSetup() = default;
  TProcessingSetup(const TProcessingSetup&) = default;
  TProcessingSetup& operator=(const TProcessingSetup&) = default;

  // 55 gives "OSBR2", 63 "OSBAR2", 2 "R".
  static std::string ToCode(int flags);
  // Case-insensitive letter test; "OSBR2" gives 55, an empty text 2.
  static int FromCode(const std::string& code);

  std::string ToCode() const { return ToCode(Processings); }

  int Processings = 55;
  int ProfileTime = 60;  // seconds
};

}  // namespace OrlaqLidar
