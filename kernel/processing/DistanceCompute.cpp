#include "kernel/processing/DistanceCompute.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Config/LidarSetup.h"

namespace OrlaqLidar {

double TDistanceCompute::ZenithAngle(double rollDegrees, double pitchDegrees) {
  constexpr double Deg = std::numbers::pi / 180.0;
  const double roll = rollDegrees * Deg;
  const double pitch = pitchDegrees * Deg;
  const double sp = std::sin(pitch);
  const double sr = std::sin(roll);
  // Pitch and roll both near 90 degrees put the sum above 1: the beam is
  // then horizontal, not undefined.
  double theta = std::asin(std::min(1.0, std::sqrt(sp * sp + sr * sr)));
  if (std::cos(roll) * std::cos(pitch) < 0) theta = std::numbers::pi - theta;
  return theta;
}

bool TDistanceCompute::Process(TManagedProfile* profile) {
  GateLength = HalfLightSpeed * profile->DoorTime;
  OffsetDistance = HalfLightSpeed * profile->OffsetTime;
  const TLidarSetup* setup = args_ ? args_->LidarSetup : nullptr;
  double roll = setup ? setup->RollBase : 0.0;
  double pitch = setup ? setup->PitchBase : 0.0;
  AltitudeBase = setup ? setup->AltitudeBase : 0.0;
  if (const auto ins = profile->GetAirinsData(); ins && ins->IsValid()) {
    AltitudeBase = ins->Altitude();
    pitch += ins->Pitch();
    roll += ins->Roll();
  }
  Zenith = ZenithAngle(roll, pitch);
  const double cosTheta = Zenith == 0 ? 1.0 : std::cos(Zenith);

  const int n = GateCount(*profile);
  const TManagedProfile::TAxisKey key{GateLength, OffsetDistance, cosTheta, AltitudeBase, n};
  if (profile->Axes == key) return true;
  profile->Axes = key;
  double* distance = profile->Distance.data();
  double* altitude = profile->Altitude.data();
  const double gate = GateLength;
  const double offset = OffsetDistance;
  const double base = AltitudeBase;
  for (int i = 0; i < n; ++i) {
    const double d = static_cast<double>(i + 1) * gate + offset;
    distance[i] = d;
    altitude[i] = d * cosTheta + base;
  }
  return true;
}

}  // namespace OrlaqLidar
