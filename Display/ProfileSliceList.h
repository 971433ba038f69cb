#pragma once
// The data of one quicklook panel: hour-long slices of columns, the colour
// scale worked out from the visible ones, and the 8-bit picture of the
// visible day kept up to date column by column.
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "Common/DateTime.h"
#include "Display/Histogram.h"
#include "Display/ProfileSlice.h"
#include "Display/QuicklookGrid.h"
#include "Display/ScrolledBitmap.h"

namespace OrlaqLidar {

class TProfileSliceList {
 public:
  static constexpr int MaxSlices = 48;  // two days, when the limit is on
  static constexpr int ColourCount = 255;
  static constexpr double ExcludedBelowSeconds = 5;

  explicit TProfileSliceList(int rows, int step = TQuicklookGrid::DefaultStep);

  int Rows() const { return rows_; }
  int Step() const { return step_; }
  int ColumnsPerSlice() const { return perSlice_; }
  int VisibleWidth() const { return visibleWidth_; }

  // Live runs keep at most MaxSlices slices, dropping the oldest.
  void SetLimit(bool on) { limit_ = on; }

  // Stores a profile (gate values, gate 0 unused) in the column of its
  // start time, then updates the scale and the picture. Returns the column.
  int64_t AddProfile(TDateTime start, TDateTime last, const double* gates, int gateCount, bool running,
                     const TProfileSlice::TColumnInfo& info = {});

  // Suspended updates only mark what is due; enabling applies it.
  void SetUpdatesEnabled(bool on);
  bool UpdatesEnabled() const { return updates_; }
  bool RedrawPending() const { return redrawPending_; }

  // Scrolls the picture so that its column 0 is this column.
  void SetFirstVisibleColumn(int64_t column);
  int64_t FirstVisibleColumn() const { return firstVisible_; }

  // Manual limits in log units; infinite ones mean unset.
  void SetManualScale(bool manual, double maximum, double minimum);
  bool Manual() const { return manual_; }
  double ManualMax() const { return manualMax_; }
  double ManualMin() const { return manualMin_; }
  bool ManualUsable() const;

  // Rebuilds histogram (when out of date) and scale; true when changed.
  bool Rescale();
  // A fresh histogram and scale, and the whole picture drawn again.
  void Refresh();
  void RedrawAll();
  void DrawColumn(int64_t column);
  uint8_t ColourIndex(float value) const;

  double ScaleMin() const { return scaleMin_; }
  double ScaleMax() const { return scaleMax_; }
  double ScaleFactor() const { return factor_; }
  const THistogram& Histogram() const { return histogram_; }
  const TScrolledBitmap& Bitmap() const { return bitmap_; }

  const std::vector<std::unique_ptr<TProfileSlice>>& Slices() const { return slices_; }
  const TProfileSlice* FindSlice(int64_t column) const;
  // -1 when there is no data.
  int64_t FirstFilledColumn() const;
  int64_t LastFilledColumn() const;
  int64_t EarliestSliceStart() const;
  // Drops the slices beginning at or before column; returns how many.
  int DropUpTo(int64_t column);
  void Clear();

 private:
  TProfileSlice* Slice(int64_t column);
  TProfileSlice& FindOrCreate(int64_t column);
  bool Overlaps(const TProfileSlice& s) const;
  std::vector<int64_t> OverlapKey() const;
  void Bounds(double& lower, double& upper) const;
  void Accumulate(const TProfileSlice& s, int64_t column, bool remove);
  void RebuildHistogram();
  // ColourIndex of n values, 0 where the column is not filled.
  void ColourRow(const float* in, const uint8_t* filled, int n, uint8_t* out) const;

  int rows_, step_, perSlice_, visibleWidth_;
  bool limit_ = false;
  std::vector<std::unique_ptr<TProfileSlice>> slices_;
  int64_t firstVisible_ = 0;
  THistogram histogram_;
  bool histValid_ = false;
  std::vector<int64_t> histKey_;
  bool manual_ = false;
  double manualMax_ = std::numeric_limits<double>::infinity();
  double manualMin_ = -std::numeric_limits<double>::infinity();
  double scaleMin_ = 0, scaleMax_ = 0, factor_ = 0;
  bool updates_ = true, redrawPending_ = false, rescalePending_ = false;
  TScrolledBitmap bitmap_;
};

}  // namespace OrlaqLidar
