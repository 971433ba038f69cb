#pragma once
// The synthetic sky the virtual lidar looks at: molecular return, a
// boundary layer that grows through the day, drifting clouds, a sky
// background that follows the sun, and the detector effects of a photon
// counting receiver (overlap, afterpulse, dead-time saturation). Pure
// functions of time and seed, so any thread may ask.
#include <array>
#include <cstdint>
#include <vector>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TSimAtmosphere {
 public:
  struct TCloud {
    double Base = 0;         // m above the lidar
    double Top = 0;          // m
    double Backscatter = 0;  // peak backscatter coefficient, 1/(m sr); 0 = no cloud
    double Depolarization = 0;
    bool Present() const { return Backscatter > 0; }
    // Backscatter coefficient at a height: a rounded profile between base and top.
    double At(double z) const;
  };

  TSimAtmosphere(double latitude, double longitude, uint64_t seed, bool clouds = true);

  double Latitude() const { return latitude_; }
  double Longitude() const { return longitude_; }

  // Degrees above the horizon.
  double SolarElevation(TDateTime t) const;
  // Height of the mixed layer above the lidar, metres.
  double BoundaryLayerTop(TDateTime t) const;
  // The drifting water/mixed-phase layer of the middle troposphere and the
  // thin, strongly depolarising high cloud.
  TCloud LowCloud(TDateTime t) const;
  TCloud Cirrus(TDateTime t) const;

  // Sky light and dark counts reaching the counter, counts per second,
  // before dead-time losses.
  double Background(double waveLength, char polarization, TDateTime t) const;

  // Mean count rate (counts per second) that the counter registers in each
  // gate; gate i covers the time offsetTime + (i + 1) x doorsTime after the
  // pulse. Includes background, afterpulse and dead-time saturation.
  // Polarization: 'X' perpendicular, '/' parallel, anything else total.
  void CountRates(double waveLength, char polarization, double doorsTime, double offsetTime, TDateTime t,
                  std::vector<double>& rates) const;

  // Dead time of the photon counters (non-paralysable).
  static constexpr double DeadTime = 25e-9;
  static constexpr double HalfLightSpeed = 149896229.0;

 private:
  // Afternoon height of the mixed layer on the day of t; also the top of
  // the residual layer it leaves at night.
  double PeakMixedLayer(TDateTime t) const;
  double Phase(int i) const { return phases_[static_cast<size_t>(i)]; }

  double latitude_;
  double longitude_;
  bool clouds_;
  std::array<double, 16> phases_{};
};

}  // namespace OrlaqLidar
