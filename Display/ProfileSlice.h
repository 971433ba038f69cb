#pragma once
// One block of consecutive quicklook columns of a channel: the stored
// logarithms (row-major, row r column c at r * width + c), which columns
// hold a profile, which must stay out of the colour scale, and each
// column's extremes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace OrlaqLidar {

class TProfileSlice {
 public:
  using TColumnInfo = std::array<uint8_t, 16>;
  static constexpr float Empty = 3.4e38f;

  TProfileSlice(int64_t firstColumn, int rows, int width);

  int64_t FirstColumn() const { return first_; }
  int64_t EndColumn() const { return first_ + width_; }
  int Rows() const { return rows_; }
  int Width() const { return width_; }
  bool Contains(int64_t column) const { return column >= first_ && column < EndColumn(); }

  // Stores gate values (gate 0 is never stored; gate i goes to row i - 1)
  // as log10(x + 1), anything not finite or not positive as 0 (no data).
  void SetColumn(int64_t column, const double* gates, int gateCount, bool excluded, const TColumnInfo& info);

  float Value(int row, int64_t column) const { return values_[static_cast<size_t>(row) * width_ + Local(column)]; }
  const float* Row(int row) const { return values_.data() + static_cast<size_t>(row) * width_; }
  bool Filled(int64_t column) const { return filled_[Local(column)] != 0; }
  bool Excluded(int64_t column) const { return excluded_[Local(column)] != 0; }
  // One byte per column, from FirstColumn(): 1 when filled, and, for
  // Counted, 1 when filled and not excluded from the scale. Bulk loops
  // over a row use them as masks.
  const uint8_t* FilledMask() const { return filled_.data(); }
  const uint8_t* CountedMask() const { return counted_.data(); }
  // Extremes of the column's data; Empty / -Empty when it holds none.
  float ColumnMin(int64_t column) const { return colMin_[Local(column)]; }
  float ColumnMax(int64_t column) const { return colMax_[Local(column)]; }
  const TColumnInfo& Info(int64_t column) const { return info_[Local(column)]; }

  // Smallest / largest filled column; -1 when none.
  int64_t FirstFilled() const { return firstFilled_; }
  int64_t LastFilled() const { return lastFilled_; }
  // Over the filled columns that count for the scale; ±Empty when none.
  float Min() const;
  float Max() const;

 private:
  int Local(int64_t column) const { return static_cast<int>(column - first_); }
  void Recompute() const;

  int64_t first_;
  int rows_;
  int width_;
  std::vector<float> values_;
  std::vector<uint8_t> filled_, excluded_, counted_;
  std::vector<float> colMin_, colMax_;
  std::vector<TColumnInfo> info_;
  int64_t firstFilled_ = -1, lastFilled_ = -1;
  mutable bool dirty_ = false;
  mutable float min_ = Empty, max_ = -Empty;
};

}  // namespace OrlaqLidar
