#pragma once
// Range and altitude of every gate from the gate timing of the channel, the
// tilt and altitude of the site, and the attitude of an attached INS record.
#include "kernel/processing/Processing.h"

namespace OrlaqLidar {

class TDistanceCompute : public TProcessing {
 public:
  explicit TDistanceCompute(TProcessingArgs* args) : TProcessing(args, "DistanceCompute") {}

  bool Process(TManagedProfile* profile) override;

  // Angle from the zenith for a tilt, radians; in [0, pi].
  static double ZenithAngle(double rollDegrees, double pitchDegrees);

  static constexpr double HalfLightSpeed = 149896229.0;  // m/s

  double AltitudeBase = 0;    // metres
  double Zenith = 0;          // radians
  double GateLength = 30.0;   // metres
  double OffsetDistance = 0;  // metres
};

}  // namespace OrlaqLidar
