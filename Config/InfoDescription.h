#pragma once
// How one information field of a record is found in its bytes, scaled,
// named and classified against its limits.
#include <limits>
#include <string>

namespace OrlaqLidar {

class TInfoDescription {
 public:
  // Overrides the members that the comma-separated items name; may be
  // called several times.
  void Parse(const std::string& text);
  // "1" for a flag item equal to the upper-cased name, the value of the
  // first "NAME:value" item, empty otherwise.
  std::string GetOption(const std::string& name) const;

  int Index = 0;
  bool Visible = true;
  bool Inverted = false;
  int O = 0;
  int B = 0;
  int S = 0;
  double WarningMin = -std::numeric_limits<double>::infinity();
  double WarningMax = std::numeric_limits<double>::infinity();
  double Min = -std::numeric_limits<double>::infinity();
  double Max = std::numeric_limits<double>::infinity();
  double Mul = 1.0;
  double Div = 1.0;
  double Percent = 0;
  std::string Name;
  std::string Unit;
  std::string Options;
  std::string Text;
  std::string Format = "0.00";
};

}  // namespace OrlaqLidar
