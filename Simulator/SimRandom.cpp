#include "Simulator/SimRandom.h"

#include <array>
#include <cmath>

namespace OrlaqLidar {

namespace {

uint64_t SplitMix64(uint64_t& x) {
  uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// Inverse of the standard normal distribution function (rational
// approximation, relative error below 1.2e-9).
double NormalQuantile(double p) {
  static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01,  -1.328068155288572e+01};
  static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
  const double low = 0.02425;
  if (p < low) {
    const double q = std::sqrt(-2 * std::log(p));
    return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  }
  if (p > 1 - low) {
    const double q = std::sqrt(-2 * std::log(1 - p));
    return -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  }
  const double q = p - 0.5;
  const double r = q * q;
  return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
         (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}

constexpr int NormalTableBits = 16;
constexpr int NormalTableSize = 1 << NormalTableBits;

// Equally probable quantiles: picking one at random is a normal draw that
// costs a table look-up instead of a logarithm and a square root.
const std::array<float, NormalTableSize>& NormalTable() {
  static const std::array<float, NormalTableSize> table = [] {
    std::array<float, NormalTableSize> t{};
    for (int i = 0; i < NormalTableSize; ++i)
      t[static_cast<size_t>(i)] = static_cast<float>(NormalQuantile((i + 0.5) / NormalTableSize));
    return t;
  }();
  return table;
}

}  // namespace

TSimRandom::TSimRandom(uint64_t seed) {
  uint64_t x = seed;
  for (auto& s : s_) s = SplitMix64(x);
}

uint64_t TSimRandom::Next() {
  // xoshiro256**
  const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
  const uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = Rotl(s_[3], 45);
  return result;
}

double TSimRandom::Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

double TSimRandom::Normal() {
  if (normalLeft_ == 0) {
    normalBits_ = Next();
    normalLeft_ = 64 / NormalTableBits;
  }
  const auto index = static_cast<size_t>(normalBits_ & (NormalTableSize - 1));
  normalBits_ >>= NormalTableBits;
  --normalLeft_;
  return NormalTable()[index];
}

uint64_t TSimRandom::Poisson(double mean, double expMinusMean, double sqrtMean) {
  if (!(mean > 0)) return 0;
  if (mean < ExactPoissonLimit) {
    // Multiply uniforms until the product drops below exp(-mean).
    uint64_t k = 0;
    double p = Uniform();
    while (p > expMinusMean) {
      ++k;
      p *= Uniform();
    }
    return k;
  }
  const double v = std::floor(mean + sqrtMean * Normal() + 0.5);
  return v > 0 ? static_cast<uint64_t>(v) : 0;
}

uint64_t TSimRandom::Poisson(double mean) {
  if (!(mean > 0)) return 0;
  return Poisson(mean, mean < ExactPoissonLimit ? std::exp(-mean) : 0.0, std::sqrt(mean));
}

}  // namespace OrlaqLidar
