#include "Simulator/SimMeasureModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {

bool Contains(const std::string& upper, const char* word) { return upper.find(word) != std::string::npos; }

bool Finite(double v) { return std::isfinite(v); }

}  // namespace

TSimMeasureModel::TSimMeasureModel(const TInfoDescription& d, uint64_t seed, bool excursions,
                                   double laserFrequencyHz) {
  TSimRandom rng(seed);
  const std::string name = UpperCase(d.Name);
  const std::string unit = UpperCase(Trim(d.Unit));
  const bool temperature = Contains(name, "TEMP") || unit == "C" || unit == "DEGC" || unit == "DEG C" ||
                           unit == "\xC2\xB0" "C";
  const bool humidity = Contains(name, "HUMID");
  const bool frequency = Contains(name, "FREQ");

  // Normal band: inside the warning limits when there are any, else inside
  // the error limits.
  const double lo = Finite(d.WarningMin) ? d.WarningMin : d.Min;
  const double hi = Finite(d.WarningMax) ? d.WarningMax : d.Max;

  double nominal = 0;
  double amplitude = 0;
  if (frequency) {
    nominal = unit == "KHZ" ? laserFrequencyHz / 1000 : laserFrequencyHz;
  } else if (temperature) {
    nominal = 25;
    amplitude = 2;
  } else if (humidity) {
    nominal = 35;
    amplitude = 5;
  } else if (Finite(lo) && Finite(hi)) {
    nominal = (lo + hi) / 2;
  } else if (Finite(hi)) {
    nominal = hi > 0 ? hi / 2 : hi - 1;
  } else if (Finite(lo)) {
    nominal = lo >= 0 ? lo * 1.5 + 1 : lo / 2;
  }
  if (!temperature && !humidity && !frequency && nominal != 0) amplitude = 0.05 * std::abs(nominal);

  // Keep the level and its drift well inside the band.
  if (Finite(lo) && Finite(hi) && hi > lo) {
    const double span = hi - lo;
    nominal = std::clamp(nominal, lo + 0.25 * span, hi - 0.25 * span);
    amplitude = (temperature || humidity) ? std::min(amplitude, 0.15 * span) : 0.15 * span;
  } else if (Finite(hi) && nominal >= hi) {
    nominal = hi - std::max(1.0, 0.2 * std::abs(hi));
  } else if (Finite(lo) && nominal <= lo) {
    nominal = lo + std::max(1.0, 0.2 * std::abs(lo));
  }
  if (Finite(hi)) amplitude = std::min(amplitude, 0.5 * (hi - nominal));
  if (Finite(lo)) amplitude = std::min(amplitude, 0.5 * (nominal - lo));
  amplitude = std::max(0.0, amplitude);
  if (frequency) amplitude = 0;

  nominal_ = nominal;
  amplitude_ = amplitude;
  noise_ = 0.03 * amplitude;
  period_ = (20 + 40 * rng.Uniform()) / 1440.0;
  phase_ = 2 * std::numbers::pi * rng.Uniform();

  if (!excursions) return;
  // One side whose warning limit can be crossed without reaching the error
  // limit beyond it.
  const bool canHigh = Finite(d.WarningMax) && !(Finite(d.Max) && d.Max <= d.WarningMax);
  const bool canLow = Finite(d.WarningMin) && !(Finite(d.Min) && d.Min >= d.WarningMin);
  if (!canHigh && !canLow) return;
  const bool high = canHigh && (!canLow || rng.Uniform() < 0.5);
  const double scale = std::max({std::abs(nominal), std::abs(high ? d.WarningMax : d.WarningMin), 1.0});
  if (high)
    excursionTarget_ = Finite(d.Max) ? d.WarningMax + 0.4 * (d.Max - d.WarningMax) : d.WarningMax + 0.05 * scale;
  else
    excursionTarget_ = Finite(d.Min) ? d.WarningMin - 0.4 * (d.WarningMin - d.Min) : d.WarningMin - 0.05 * scale;
  excursions_ = true;
  // About once an hour or two, for two minutes.
  excursionPeriod_ = (60 + 60 * rng.Uniform()) / 1440.0;
  excursionOffset_ = excursionPeriod_ * rng.Uniform();
  excursionLength_ = 2.0 / 1440.0;
}

double TSimMeasureModel::ExcursionWeight(TDateTime t) const {
  if (!excursions_) return 0;
  double x = std::fmod(t - excursionOffset_, excursionPeriod_);
  if (x < 0) x += excursionPeriod_;
  if (x >= excursionLength_) return 0;
  // Ramps up, stays past the limit for a while, comes back.
  return std::min(1.0, 1.5 * std::sin(std::numbers::pi * x / excursionLength_));
}

bool TSimMeasureModel::InExcursion(TDateTime t) const { return ExcursionWeight(t) > 0; }

double TSimMeasureModel::Value(TDateTime t, TSimRandom& rng) const {
  double v = nominal_ + amplitude_ * std::sin(2 * std::numbers::pi * t / period_ + phase_);
  const double w = ExcursionWeight(t);
  if (w > 0) v += (excursionTarget_ - v) * w;
  if (noise_ > 0) v += noise_ * rng.Normal();
  return v;
}

double TSimMeasureModel::RawFor(const TInfoDescription& d, double value) {
  double v = value;
  if (d.Inverted && v != 0) v = 1 / v;
  if (d.Percent != 0) v = v * d.Percent / 100;
  if (d.Div != 0) v *= d.Div;
  if (d.Mul != 0) v /= d.Mul;
  return v;
}

}  // namespace OrlaqLidar
