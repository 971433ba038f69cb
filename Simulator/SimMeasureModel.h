#pragma once
// How one housekeeping value of the virtual instrument behaves: a
// plausible level chosen from the description's name, unit and limits,
// a slow drift, a little noise, and for monitoring boards an occasional
// excursion just past a warning limit (never past an error limit).
#include <cstdint>

#include "Common/DateTime.h"
#include "Config/InfoDescription.h"
#include "Simulator/SimRandom.h"

namespace OrlaqLidar {

class TSimMeasureModel {
 public:
  // laserFrequencyHz answers a field that names the laser frequency.
  TSimMeasureModel(const TInfoDescription& description, uint64_t seed, bool excursions, double laserFrequencyHz);

  // Value in the description's units at time t.
  double Value(TDateTime t, TSimRandom& rng) const;
  double Nominal() const { return nominal_; }
  bool HasExcursions() const { return excursions_; }
  // True while t lies in one of the warning excursions.
  bool InExcursion(TDateTime t) const;

  // Raw reading that the description's calibration (Mul, Div, Percent,
  // Inverted) turns into value.
  static double RawFor(const TInfoDescription& description, double value);

 private:
  double ExcursionWeight(TDateTime t) const;

  double nominal_ = 0;
  double amplitude_ = 0;
  double noise_ = 0;
  double period_ = 1;  // days
  double phase_ = 0;
  bool excursions_ = false;
  double excursionTarget_ = 0;
  double excursionPeriod_ = 1;  // days
  double excursionOffset_ = 0;  // days
  double excursionLength_ = 0;  // days
};

}  // namespace OrlaqLidar
