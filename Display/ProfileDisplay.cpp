#include "Display/ProfileDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Config/GUIConfig.h"
#include "kernel/ManagedProfile.h"

namespace OrlaqLidar {

std::string TProfileDisplay::ShotTitle(int shots) {
  if (shots < 1000) return std::to_string(shots);
  if (shots < 1000000) return std::to_string(shots / 1000) + "k";
  return std::to_string(shots / 1000000) + "m";
}

TValueAxis TProfileDisplay::LevelAxis(int mask) {
  TValueAxis a;
  if (mask & 1) {
    a.Code = "S";
    a.Unit = "Ph/s";
    a.ValueFormat = "0e-0";
    a.LabelFormat = "0.00e-0";
    a.Maximum = 50000;
  }
  if (mask & 4) a.Code += "B";
  if (mask & 8) a.Code += "A";
  if (mask & 16) a.Code = "O" + a.Code;
  if (mask & 32) {
    a.Code += "r²";
    a.Unit = "km²." + a.Unit;
    a.Log = true;
    a.ValueFormat = "0e-0";
    a.LabelFormat = "0.00e-0";
    a.Minimum = 1e-6;
    a.Maximum = 1e6;
    a.RayleighAllowed = true;
  }
  return a;
}

void TProfileDisplay::SetLevelMask(int mask) {
  mask_ = mask;
  for (auto& [id, c] : curves_) Rebuild(c);
}

void TProfileDisplay::SetAxisMode(TAxisMode mode) {
  mode_ = mode;
  for (auto& [id, c] : curves_) Rebuild(c);
}

TValueAxis TProfileDisplay::ValueAxis() const {
  TValueAxis a = LevelAxis(mask_);
  if (mode_ == Linear) a.Log = false;
  if (mode_ == Logarithmic) a.Log = true;
  if (a.Log) a.Minimum = 1;
  if (!autCount_) {
    a.Minimum = minCount_;
    a.Maximum = maxCount_;
  } else {
    const double m = DataMaximum();
    if (m > a.Minimum) a.Maximum = m;
  }
  return a;
}

void TProfileDisplay::SetAltitude(bool on) {
  altitude_ = on;
  for (auto& [id, c] : curves_) Rebuild(c);
}

void TProfileDisplay::SetManualDistance(bool automatic, double minKm, double maxKm) {
  autDist_ = automatic;
  minDist_ = minKm;
  maxDist_ = maxKm;
}

void TProfileDisplay::SetManualValues(bool automatic, double minimum, double maximum) {
  autCount_ = automatic;
  minCount_ = minimum;
  maxCount_ = maximum;
}

void TProfileDisplay::Apply(const TGUIConfig& config) {
  mask_ = config.ProfileProcessing;
  altitude_ = config.ShowAltitude;
  rayleigh_ = config.ShowRayleighSlope;
  slope10_ = config.RaylSlope10;
  slope20_ = config.RaylSlope20;
  // The stored distances are in metres, the axis in km.
  SetManualDistance(config.AutDist, config.MinDist * DistanceUnit, config.MaxDist * DistanceUnit);
  SetManualValues(config.AutCount, config.MinCount, config.MaxCount);
  for (auto& [id, c] : curves_) Rebuild(c);
}

void TProfileDisplay::AddProfile(const TManagedProfile& profile) {
  if (hold_) return;
  TProfileCurve& curve = curves_[profile.ChannelID];
  curve.ChannelId = profile.ChannelID;
  curve.Title = ShotTitle(profile.LaserShots);
  curve.LastTime = profile.LastTime;
  header_ = FormatDateTime(profile.LastTime + 0.05 / 86400.0, true).substr(11) + " [" + curve.Title + "]";
  TRaw& raw = raw_[profile.ChannelID];
  const size_t n = std::min<size_t>(static_cast<size_t>(std::max(profile.ActiveDoors, 0)), profile.Signal.size());
  raw.Value.assign(profile.Signal.begin(), profile.Signal.begin() + static_cast<std::ptrdiff_t>(n));
  raw.Distance.assign(profile.Distance.begin(), profile.Distance.begin() + static_cast<std::ptrdiff_t>(std::min(n, profile.Distance.size())));
  raw.Altitude.assign(profile.Altitude.begin(), profile.Altitude.begin() + static_cast<std::ptrdiff_t>(std::min(n, profile.Altitude.size())));
  curve.AltitudeOffset = curve.AltitudeRatio = 0;
  if (raw.Distance.size() >= 2 && raw.Altitude.size() >= 2) {
    curve.AltitudeOffset = (raw.Altitude[0] - raw.Distance[0]) * DistanceUnit;
    const double dAlt = raw.Altitude[1] - raw.Altitude[0];
    curve.AltitudeRatio = dAlt != 0 ? (raw.Distance[1] - raw.Distance[0]) / dAlt : 0;
  }
  Rebuild(curve);
}

void TProfileDisplay::Rebuild(TProfileCurve& curve) const {
  curve.Runs.clear();
  const auto it = raw_.find(curve.ChannelId);
  if (it == raw_.end()) return;
  const TRaw& raw = it->second;
  const bool log = LogAxis();
  const std::vector<double>& ys = altitude_ ? raw.Altitude : raw.Distance;
  bool open = false;
  for (size_t i = 0; i < raw.Value.size() && i < ys.size(); ++i) {
    const double v = raw.Value[i] * valueScale_;
    const bool gap = !std::isfinite(v) || std::abs(v) > 1e100 || (log && v <= 0) || !std::isfinite(ys[i]);
    if (gap) {
      open = false;
      continue;
    }
    if (!open) curve.Runs.emplace_back();
    open = true;
    curve.Runs.back().push_back({v, ys[i] * DistanceUnit});
  }
}

void TProfileDisplay::Clear() {
  curves_.clear();
  raw_.clear();
  header_.clear();
}

void TProfileDisplay::DistanceLimits(double& minimum, double& maximum) const {
  if (!autDist_) {
    minimum = minDist_;
    maximum = maxDist_;
    return;
  }
  minimum = 1e300;
  maximum = -1e300;
  for (const auto& [id, c] : curves_)
    for (const auto& run : c.Runs)
      for (const auto& p : run) minimum = std::min(minimum, p.Y), maximum = std::max(maximum, p.Y);
  if (minimum > maximum) minimum = 0, maximum = 30;
}

double TProfileDisplay::DataMaximum() const {
  double m = -1e300;
  for (const auto& [id, c] : curves_)
    for (const auto& run : c.Runs)
      for (const auto& p : run) m = std::max(m, p.Value);
  return m;
}

std::vector<TRayleighSegment> TProfileDisplay::RayleighSegments() const {
  if (!rayleigh_ || !(mask_ & 32) || !LogAxis()) return {};
  double bottom, top;
  DistanceLimits(bottom, top);
  const auto at = [&](double km, double slope, double a, double dMetres) {
    return a * std::pow(10.0, slope * (km / DistanceUnit - dMetres));
  };
  TRayleighSegment s1, s2;
  const double end1 = std::min(10.0, top), end2 = std::min(20.0, top);
  s1.From = {at(bottom, slope10_, anchorValue_, anchorMetres_), bottom};
  s1.To = {at(end1, slope10_, anchorValue_, anchorMetres_), end1};
  s2.From = s1.To;
  s2.To = {at(end2, slope20_, s1.To.Value, end1 / DistanceUnit), end2};
  return {s1, s2};
}

void TProfileDisplay::MoveRayleighAnchor(double value, double km) {
  anchorValue_ = value;
  anchorMetres_ = km / DistanceUnit;
}

}  // namespace OrlaqLidar
