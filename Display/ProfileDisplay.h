#pragma once
// The profile view without its chart: one curve per lidar channel from the
// latest profile, the value axis chosen by the processing levels shown,
// distance or altitude, manual limits, the simplified Rayleigh slopes and
// the hold switch.
#include <map>
#include <string>
#include <vector>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TManagedProfile;
class TGUIConfig;

struct TProfilePoint {
  double Value = 0;
  double Y = 0;  // km, distance or altitude
};

struct TProfileCurve {
  int ChannelId = 0;
  std::string Title;
  // Runs of points; a bad value ends a run, so the curve shows a gap.
  std::vector<std::vector<TProfilePoint>> Runs;
  double AltitudeOffset = 0;  // km, first altitude - first distance
  double AltitudeRatio = 0;   // distance step / altitude step
  TDateTime LastTime = 0;
};

struct TValueAxis {
  std::string Code = "R";
  std::string Unit = "Count";
  bool Log = false;
  std::string ValueFormat = "#0";
  std::string LabelFormat = "#0";
  double Minimum = 0;
  double Maximum = 5000;
  bool RayleighAllowed = false;
  std::string Title() const { return Code + " (" + Unit + ")"; }
};

struct TRayleighSegment {
  TProfilePoint From, To;
};

class TProfileDisplay {
 public:
  enum TAxisMode { Automatic = 0, Linear = 1, Logarithmic = 2 };
  static constexpr double DistanceUnit = 0.001;  // m -> km

  // Shot-count title: 999, "45k", "1m".
  static std::string ShotTitle(int shots);
  // Code, unit and axis of a level mask, before the axis mode.
  static TValueAxis LevelAxis(int mask);

  void SetLevelMask(int mask);
  int LevelMask() const { return mask_; }
  void SetAxisMode(TAxisMode mode);
  TAxisMode AxisMode() const { return mode_; }
  // The axis in use: the level's, forced linear or log by the mode, with
  // manual limits when set.
  TValueAxis ValueAxis() const;
  bool LogAxis() const { return ValueAxis().Log; }

  void SetAltitude(bool on);
  bool Altitude() const { return altitude_; }
  std::string DistanceTitle() const { return std::string(altitude_ ? "Altitude (" : "Distance (") + "km)"; }
  void SetRayleigh(bool on) { rayleigh_ = on; }
  bool Rayleigh() const { return rayleigh_; }
  void SetSlopes(double slope10, double slope20) { slope10_ = slope10, slope20_ = slope20; }
  void SetManualDistance(bool automatic, double minKm, double maxKm);
  void SetManualValues(bool automatic, double minimum, double maximum);
  // Settings of the main window: levels, altitude, Rayleigh, limits, slopes.
  void Apply(const TGUIConfig& config);

  void SetHold(bool on) { hold_ = on; }
  bool Hold() const { return hold_; }

  // Builds the channel's curve from the profile; ignored while held.
  void AddProfile(const TManagedProfile& profile);
  void Clear();
  const std::map<int, TProfileCurve>& Curves() const { return curves_; }
  // "hh:nn:ss.zzz [title]" of the latest profile; empty before any.
  const std::string& Header() const { return header_; }

  // Distance axis limits in km: manual ones, or those of the data.
  void DistanceLimits(double& minimum, double& maximum) const;
  // Largest value of the curves, for an automatic value axis.
  double DataMaximum() const;

  // The two draggable segments; none unless the flag is set, the levels
  // are range corrected and the axis is logarithmic.
  std::vector<TRayleighSegment> RayleighSegments() const;
  // Where the user dragged the first segment's start (value, km).
  void MoveRayleighAnchor(double value, double km);

 private:
  void Rebuild(TProfileCurve& curve) const;

  int mask_ = 63;
  TAxisMode mode_ = Automatic;
  bool altitude_ = false, rayleigh_ = false, hold_ = false;
  double slope10_ = -0.00011, slope20_ = -0.00016;
  bool autDist_ = true, autCount_ = true;
  double minDist_ = 0, maxDist_ = 30, minCount_ = 0, maxCount_ = 10000;
  double anchorValue_ = 1000, anchorMetres_ = 1;
  double valueScale_ = 1.0;
  std::map<int, TProfileCurve> curves_;
  // Raw points kept so that a switch of axis or altitude redraws at once.
  struct TRaw {
    std::vector<double> Value, Distance, Altitude;
  };
  std::map<int, TRaw> raw_;
  std::string header_;
};

}  // namespace OrlaqLidar
