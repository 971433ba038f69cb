#pragma once
// Distribution of the visible quicklook values, from which the automatic
// colour scale takes its limits.
#include <array>
#include <cstdint>

namespace OrlaqLidar {

class THistogram {
 public:
  static constexpr int Bins = 1024;

  void Reset(double lower, double upper);
  void Add(float value) { ++counts_[Bin(value)], ++total_; }
  // Adds the values above 0 of rows x width values (row-major) whose
  // column's mask byte is set: the same counts as Add one by one, faster.
  void AddRows(const float* values, int rows, int width, const uint8_t* mask);
  // Takes back a value added before (an overwritten column).
  void Remove(float value);

  double Lower() const { return lower_; }
  double Upper() const { return upper_; }
  double BinWidth() const { return binWidth_; }
  int64_t Total() const { return total_; }
  int64_t Peak() const;
  int64_t Count(int bin) const { return counts_[bin]; }

  // The automatic limits: the lowest and highest bins holding at least
  // peak * 0.0005 values; both the lower bound when none does.
  void Limits(double& minimum, double& maximum) const;

 private:
  int Bin(float value) const;

  double lower_ = 0, upper_ = 0, binWidth_ = 0;
  std::array<int64_t, Bins> counts_{};
  int64_t total_ = 0;
};

}  // namespace OrlaqLidar
