#include "Simulator/SimAtmosphere.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Simulator/SimRandom.h"

namespace OrlaqLidar {

namespace {

constexpr double Pi = std::numbers::pi;
constexpr double Deg = Pi / 180.0;
constexpr double MinutesPerDay = 1440.0;

// Reference wavelength of the backscatter figures below.
constexpr double RefWaveLength = 532.0;
// Molecular backscatter at ground level, 1/(m sr), and its scale height.
constexpr double MolecularBackscatter0 = 1.5e-6;
constexpr double MolecularScaleHeight = 8000.0;
constexpr double MolecularLidarRatio = 8.0 * Pi / 3.0;
// Depolarisation ratios: air through a broad filter, dust-free aerosol.
constexpr double MolecularDepol = 0.014;
constexpr double AerosolDepol = 0.05;
constexpr double AerosolLidarRatio = 50.0;
constexpr double CloudLidarRatio = 18.0;
// Aerosol backscatter falls much more slowly with wavelength than the
// molecular one, so the infrared channel shows the aerosol in contrast.
constexpr double AerosolAngstrom = 0.5;
// System constant at 532 nm: counts/s for a backscatter of 1/(m sr) at 1 m,
// full overlap, no extinction. Chosen so the near range just saturates.
constexpr double SystemConstant532 = 9e17;

double Clamp01(double x) { return std::clamp(x, 0.0, 1.0); }

double SmoothStep(double x) {
  x = Clamp01(x);
  return x * x * (3 - 2 * x);
}

// Share of the backscatter seen by a channel of the given polarisation.
double PolarisationShare(char polarization, double depol) {
  if (polarization == 'X') return depol / (1 + depol);
  if (polarization == '/') return 1 / (1 + depol);
  return 1.0;
}

bool Infrared(double waveLength) { return waveLength >= 900; }

}  // namespace

double TSimAtmosphere::TCloud::At(double z) const {
  if (!Present() || z <= Base || z >= Top) return 0;
  const double x = (z - Base) / (Top - Base);
  return Backscatter * 4 * x * (1 - x);
}

TSimAtmosphere::TSimAtmosphere(double latitude, double longitude, uint64_t seed, bool clouds)
    : latitude_(latitude), longitude_(longitude), clouds_(clouds) {
  TSimRandom rng(seed ^ 0xA7305F1Dull);
  for (auto& p : phases_) p = 2 * Pi * rng.Uniform();
}

double TSimAtmosphere::SolarElevation(TDateTime t) const {
  // Low-precision solar position (about 0.1 degree), enough for day and night.
  const TDateTimeParts parts = DecodeDateTime(t);
  const double dayStart = std::floor(t);
  const double dayOfYear = dayStart - EncodeDateTime(parts.Year, 1, 1) + 1;
  const double hours = (t - dayStart) * 24.0;
  const double g = 2 * Pi / 365.0 * (dayOfYear - 1 + (hours - 12) / 24);
  const double eqTime = 229.18 * (0.000075 + 0.001868 * std::cos(g) - 0.032077 * std::sin(g) -
                                  0.014615 * std::cos(2 * g) - 0.040849 * std::sin(2 * g));
  const double decl = 0.006918 - 0.399912 * std::cos(g) + 0.070257 * std::sin(g) - 0.006758 * std::cos(2 * g) +
                      0.000907 * std::sin(2 * g) - 0.002697 * std::cos(3 * g) + 0.00148 * std::sin(3 * g);
  const double trueSolarMinutes = hours * 60 + eqTime + 4 * longitude_;
  const double hourAngle = (trueSolarMinutes / 4 - 180) * Deg;
  const double lat = latitude_ * Deg;
  const double cosZenith = std::sin(lat) * std::sin(decl) + std::cos(lat) * std::cos(decl) * std::cos(hourAngle);
  return 90.0 - std::acos(std::clamp(cosZenith, -1.0, 1.0)) / Deg;
}

double TSimAtmosphere::PeakMixedLayer(TDateTime t) const {
  // The mixed layer grows higher under a high summer sun than in winter.
  const double noon = std::floor(t) + (12 - longitude_ / 15) / 24;
  const double noonSun = std::sin(std::max(0.0, SolarElevation(noon)) * Deg);
  return 500 + 1500 * std::max(0.1, noonSun);
}

double TSimAtmosphere::BoundaryLayerTop(TDateTime t) const {
  const double dayStart = std::floor(t);
  double solarHour = std::fmod((t - dayStart) * 24 + longitude_ / 15, 24.0);
  if (solarHour < 0) solarHour += 24;
  const double night = 350;
  const double peak = PeakMixedLayer(t);
  double growth = 0;
  if (solarHour >= 7.5 && solarHour < 15) {
    const double x = (solarHour - 7.5) / 7.5;
    growth = (1 - std::exp(-3 * x)) / (1 - std::exp(-3.0));
  } else if (solarHour >= 15 && solarHour < 18) {
    growth = 1;
  } else if (solarHour >= 18 && solarHour < 20.5) {
    growth = 1 - SmoothStep((solarHour - 18) / 2.5);
  }
  // Gravity waves ripple the top with a period of a quarter of an hour.
  const double ripple = 40 * std::sin(2 * Pi * t * 96 + Phase(0));
  return night + (peak - night) * growth + ripple;
}

TSimAtmosphere::TCloud TSimAtmosphere::LowCloud(TDateTime t) const {
  TCloud c;
  if (!clouds_) return c;
  c.Base = 3200 + 1000 * std::sin(2 * Pi * t * 24 / 5 + Phase(1)) +
           250 * std::sin(2 * Pi * t * MinutesPerDay / 37 + Phase(2));
  c.Top = c.Base + 350 + 150 * std::sin(2 * Pi * t * MinutesPerDay / 73 + Phase(3));
  // Broken cloud: the layer comes and goes as cells drift over the site,
  // present about three quarters of the time so that a short run shows it.
  const double s = std::sin(2 * Pi * t * 24 / 3 + Phase(4)) + 0.6 * std::sin(2 * Pi * t * MinutesPerDay / 47 + Phase(5)) +
                   0.35 * std::sin(2 * Pi * t * MinutesPerDay / 11 + Phase(6));
  c.Backscatter = 8e-5 * Clamp01((s + 0.7) / 0.6);
  c.Depolarization = 0.2;
  return c;
}

TSimAtmosphere::TCloud TSimAtmosphere::Cirrus(TDateTime t) const {
  TCloud c;
  if (!clouds_) return c;
  c.Base = 8500 + 700 * std::sin(2 * Pi * t * 24 / 7 + Phase(7));
  c.Top = c.Base + 900 + 200 * std::sin(2 * Pi * t * MinutesPerDay / 53 + Phase(8));
  const double s = std::sin(2 * Pi * t * 24 / 7 + Phase(9)) + 0.5 * std::sin(2 * Pi * t * MinutesPerDay / 29 + Phase(10));
  c.Backscatter = 1.5e-5 * Clamp01((s - 0.5) / 0.5);
  c.Depolarization = 0.4;
  return c;
}

double TSimAtmosphere::Background(double waveLength, char polarization, TDateTime t) const {
  const double e = SolarElevation(t);
  // Daylight with a short twilight tail below the horizon.
  const double daylight = e > 0 ? 0.01 + std::pow(std::sin(e * Deg), 1.2) : 0.01 * std::exp(e / 2);
  const double cloudiness = LowCloud(t).Backscatter / 8e-5;
  const double polShare = polarization == 'X' ? 0.45 : polarization == '/' ? 0.55 : 1.0;
  const double day = 2e6 * std::pow(RefWaveLength / waveLength, 0.74) * daylight * (1 + 0.6 * cloudiness);
  const double nightSky = 150;
  const double dark = Infrared(waveLength) ? 1500 : 100;
  return (day + nightSky) * polShare + dark;
}

void TSimAtmosphere::CountRates(double waveLength, char polarization, double doorsTime, double offsetTime,
                                TDateTime t, std::vector<double>& rates) const {
  if (!(waveLength > 0)) waveLength = RefWaveLength;
  const double molScale = std::pow(RefWaveLength / waveLength, 4);
  const double aerScale = std::pow(RefWaveLength / waveLength, AerosolAngstrom);
  const double system = SystemConstant532 * std::pow(RefWaveLength / waveLength, 1.17);
  const double overlapRange = 500 * std::sqrt(waveLength / RefWaveLength);
  const double afterpulse = Infrared(waveLength) ? 4e5 : 2e5;

  const double top = BoundaryLayerTop(t);
  const double residualTop = PeakMixedLayer(t);
  const double blAerosol = 3e-6 * (1 + 0.25 * std::sin(2 * Pi * t / 1.7 + Phase(11)));
  const TCloud low = LowCloud(t);
  const TCloud high = Cirrus(t);
  const double background = Background(waveLength, polarization, t);
  const double molShare = PolarisationShare(polarization, MolecularDepol);
  const double aerShare = PolarisationShare(polarization, AerosolDepol);
  const double lowShare = PolarisationShare(polarization, low.Depolarization);
  const double highShare = PolarisationShare(polarization, high.Depolarization);

  double opticalDepth = 0;
  double previousZ = 0;
  for (size_t i = 0; i < rates.size(); ++i) {
    const double time = offsetTime + static_cast<double>(i + 1) * doorsTime;
    const double z = std::max(1.0, HalfLightSpeed * time);

    const double mol = MolecularBackscatter0 * molScale * std::exp(-z / MolecularScaleHeight);
    // Mixed layer with a moist, brighter top and a smooth entrainment zone,
    // the residual layer of the previous afternoon above it, and a thin
    // free-tropospheric background.
    const double mixed = 0.5 * (1 - std::tanh((z - top) / (0.08 * top))) *
                         (1 + 0.4 * std::exp(-std::pow((z - 0.9 * top) / (0.1 * top), 2)));
    const double residual = z > top ? 0.3 * 0.5 * (1 - std::tanh((z - residualTop) / 100)) : 0;
    const double aer = (blAerosol * (mixed + residual) + 1.5e-7 * std::exp(-z / 2500)) * aerScale;
    const double lowB = low.At(z);
    const double highB = high.At(z);

    const double extinction =
        mol * MolecularLidarRatio + aer * AerosolLidarRatio + (lowB + highB) * CloudLidarRatio;
    opticalDepth += extinction * (z - previousZ);
    previousZ = z;

    const double seen = mol * molShare + aer * aerShare + lowB * lowShare + highB * highShare;
    const double overlap = 1 - std::exp(-std::pow(z / overlapRange, 3));
    const double signal = system * overlap * seen * std::exp(-2 * opticalDepth) / (z * z);
    const double after = afterpulse * (0.7 * std::exp(-time / 0.3e-6) + 0.3 * std::exp(-time / 3e-6));
    const double trueRate = signal + after + background;
    rates[i] = trueRate / (1 + DeadTime * trueRate);
  }
}

}  // namespace OrlaqLidar
