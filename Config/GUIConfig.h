#pragma once
// Display preferences of the main window and its views, in section
// "Skyvane\GUI" of the store opened on "SOFTWARE\Orlaq\Skyvane".
#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

class TGUIConfig {
 public:
  TGUIConfig();
  bool Load(const TCustomIniFile& store);
  bool Save(TCustomIniFile& store) const;

  // True on a machine too weak for full graphics quality: a single core.
  static bool IsSlowMachine();

  bool MidLowEndPC;
  bool ShowAltitude = false;
  bool ShowRayleighSlope = false;
  int ProfileProcessing = 63;
  int ProfileTime = 60;
  std::string LogFileName;
  bool HQProfile = false;
  int QLTimeSpanMin = 0;
  bool ShowQLMinMaxLabel = true;
  double RaylSlope10 = -0.00011;
  double RaylSlope20 = -0.00016;
  double MinDist = 0;
  double MaxDist = 30000;
  bool AutDist = true;
  double MinCount = 0;
  double MaxCount = 10000;
  bool AutCount = true;
  bool ShowEvents = true;

  static constexpr const char* Section = "Skyvane\\GUI";
};

}  // namespace OrlaqLidar
