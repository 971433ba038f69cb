#pragma once
// Seeded, fast random numbers for the virtual instrument: millions of
// photon-count samples a second must cost little, and a seed must replay
// the same noise.
#include <cstdint>

namespace OrlaqLidar {

class TSimRandom {
 public:
  explicit TSimRandom(uint64_t seed = 1);

  uint64_t Next();
  // Uniform in [0, 1).
  double Uniform();
  // Standard normal, drawn from a quantile table (tails cut near 4.5 sigma).
  double Normal();
  // Poisson variate of the given mean. The two extra arguments are
  // exp(-mean) and sqrt(mean), which callers drawing many samples of the
  // same mean compute once.
  uint64_t Poisson(double mean, double expMinusMean, double sqrtMean);
  uint64_t Poisson(double mean);

  // Below this mean the exact multiplication method is used, above it a
  // normal approximation.
  static constexpr double ExactPoissonLimit = 16.0;

 private:
  uint64_t s_[4];
  uint64_t normalBits_ = 0;
  int normalLeft_ = 0;
};

}  // namespace OrlaqLidar
