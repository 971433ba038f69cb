#pragma once
// A quicklook channel's colour-scale settings: the manual flag and limits
// in log units (log10 of the label value x 1e6), their texts on the colour
// bar, the checks of the manual scale box, and their place in the store.
#include <limits>
#include <optional>
#include <string>

#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

struct TQuicklookColorScale {
  static constexpr const char* Section = "Skyvane\\GUI\\QL";
  static constexpr const char* RefusedText = "Max scale must be greater than Min scale !";
  static constexpr const char* NotPositiveText = "Scale values must be numbers greater than 0 !";

  bool Manual = false;
  double Max = std::numeric_limits<double>::infinity();
  double Min = -std::numeric_limits<double>::infinity();

  // Section of the channel's settings: "Skyvane\GUI\QL" + channel number.
  static std::string ChannelSection(int channel);
  void Load(const TCustomIniFile& store, int channel);
  void Save(TCustomIniFile& store, int channel) const;

  // Colour-bar label of a limit: 10^(v - 6) with 2 significant digits,
  // "NoData" for an unset limit.
  static std::string Label(double logValue);
  // Label units to log units and back.
  static double ToLog(double value);
  static double FromLog(double logValue);
  // "0.0##E-0": one to three decimals, exponent without "+".
  static std::string FormatStored(double v);

  // What OK of the manual scale box does with the two texts (label units):
  // the refusal text, or nothing when accepted and stored.
  std::optional<std::string> Accept(const std::string& maxText, const std::string& minText, bool manual);
};

}  // namespace OrlaqLidar
