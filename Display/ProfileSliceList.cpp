#include "Display/ProfileSliceList.h"

#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

TProfileSliceList::TProfileSliceList(int rows, int step)
    : rows_(std::max(rows, 1)),
      step_(std::max(step, 1)),
      perSlice_(std::max(TQuicklookGrid::SliceSeconds / step_, 1)),
      visibleWidth_(TQuicklookGrid::VisibleSpanSeconds / step_ + 2),
      bitmap_(visibleWidth_, rows_) {}

TProfileSlice* TProfileSliceList::Slice(int64_t column) {
  for (auto it = slices_.rbegin(); it != slices_.rend(); ++it)
    if ((*it)->Contains(column)) return it->get();
  return nullptr;
}

const TProfileSlice* TProfileSliceList::FindSlice(int64_t column) const {
  return const_cast<TProfileSliceList*>(this)->Slice(column);
}

TProfileSlice& TProfileSliceList::FindOrCreate(int64_t column) {
  if (TProfileSlice* s = Slice(column)) return *s;
  if (limit_) {
    while (static_cast<int>(slices_.size()) >= MaxSlices) slices_.erase(slices_.begin());
    histValid_ = false;
  }
  const int64_t first = (column >= 0 ? column / perSlice_ : -((-column + perSlice_ - 1) / perSlice_)) * perSlice_;
  auto slice = std::make_unique<TProfileSlice>(first, rows_, perSlice_);
  TProfileSlice& ref = *slice;
  const auto pos = std::upper_bound(slices_.begin(), slices_.end(), first,
                                    [](int64_t f, const auto& s) { return f < s->FirstColumn(); });
  slices_.insert(pos, std::move(slice));
  return ref;
}

bool TProfileSliceList::Overlaps(const TProfileSlice& s) const {
  return s.EndColumn() > firstVisible_ && s.FirstColumn() < firstVisible_ + visibleWidth_;
}

std::vector<int64_t> TProfileSliceList::OverlapKey() const {
  std::vector<int64_t> key;
  for (const auto& s : slices_)
    if (Overlaps(*s)) key.push_back(s->FirstColumn());
  return key;
}

void TProfileSliceList::Bounds(double& lower, double& upper) const {
  float lo = TProfileSlice::Empty, hi = -TProfileSlice::Empty;
  for (const auto& s : slices_) {
    if (!Overlaps(*s)) continue;
    lo = std::min(lo, s->Min());
    hi = std::max(hi, s->Max());
  }
  if (lo > hi) lo = hi = 0;
  lower = lo;
  upper = hi;
}

// Only columns that count for the scale are in the histogram: a short
// profile must not pull the limits.
void TProfileSliceList::Accumulate(const TProfileSlice& s, int64_t column, bool remove) {
  if (!s.Filled(column) || s.Excluded(column)) return;
  for (int r = 1; r < rows_; ++r) {
    const float v = s.Value(r, column);
    if (!(v > 0)) continue;
    if (remove)
      histogram_.Remove(v);
    else
      histogram_.Add(v);
  }
}

void TProfileSliceList::RebuildHistogram() {
  double lower, upper;
  Bounds(lower, upper);
  histogram_.Reset(lower, upper);
  // Row by row in memory order, masked by the columns that count.
  for (const auto& s : slices_) {
    if (!Overlaps(*s)) continue;
    histogram_.AddRows(s->Row(1), rows_ - 1, s->Width(), s->CountedMask());
  }
  histKey_ = OverlapKey();
  histValid_ = true;
}

int64_t TProfileSliceList::AddProfile(TDateTime start, TDateTime last, const double* gates, int gateCount,
                                      bool running, const TProfileSlice::TColumnInfo& info) {
  const int64_t column = TQuicklookGrid::ColumnIndex(start, step_);
  const double duration = (last - start) * 86400.0;
  TProfileSlice& slice = FindOrCreate(column);
  const bool overlaps = Overlaps(slice);
  if (histValid_ && overlaps) Accumulate(slice, column, true);
  slice.SetColumn(column, gates, gateCount, duration < ExcludedBelowSeconds, info);
  if (histValid_ && overlaps) {
    // The histogram follows column by column while its bounds hold; any
    // change of bounds needs the full rebuild.
    double lower, upper;
    Bounds(lower, upper);
    if (lower == histogram_.Lower() && upper == histogram_.Upper())
      Accumulate(slice, column, false);
    else
      histValid_ = false;
  }
  if (!updates_) {
    redrawPending_ = rescalePending_ = true;
    return column;
  }
  if (running && slices_.size() >= 6) {
    DrawColumn(column);
  } else if (Rescale()) {
    RedrawAll();
  } else {
    DrawColumn(column);
  }
  return column;
}

void TProfileSliceList::SetUpdatesEnabled(bool on) {
  updates_ = on;
  if (!on) return;
  if (rescalePending_) Rescale();
  if (redrawPending_ || rescalePending_) RedrawAll();
  redrawPending_ = rescalePending_ = false;
}

void TProfileSliceList::SetFirstVisibleColumn(int64_t column) {
  const int64_t k = column - firstVisible_;
  if (k == 0) return;
  firstVisible_ = column;
  if (histValid_ && OverlapKey() != histKey_) histValid_ = false;
  // The picture moves with its first column even while updates wait:
  // whatever is shown meanwhile must stay at its time. The columns that
  // come into view are drawn when updates resume.
  bitmap_.Scroll(static_cast<int>(std::clamp<int64_t>(k, -visibleWidth_, visibleWidth_)));
  if (!updates_) {
    redrawPending_ = true;
    return;
  }
  if (std::llabs(k) >= visibleWidth_) {
    RedrawAll();
    return;
  }
  if (k > 0)
    for (int64_t c = firstVisible_ + visibleWidth_ - k; c < firstVisible_ + visibleWidth_; ++c) DrawColumn(c);
  else
    for (int64_t c = firstVisible_; c < firstVisible_ - k; ++c) DrawColumn(c);
}

void TProfileSliceList::SetManualScale(bool manual, double maximum, double minimum) {
  manual_ = manual;
  manualMax_ = maximum;
  manualMin_ = minimum;
}

bool TProfileSliceList::ManualUsable() const {
  return manual_ && std::isfinite(manualMax_) && std::isfinite(manualMin_) && std::abs(manualMax_) < 1e10 &&
         std::abs(manualMin_) < 1e10;
}

bool TProfileSliceList::Rescale() {
  if (!histValid_) RebuildHistogram();
  double mn, mx;
  if (ManualUsable()) {
    mn = manualMin_;
    mx = manualMax_;
  } else {
    histogram_.Limits(mn, mx);
  }
  const double factor = mx == mn ? 0.0 : (ColourCount - 1) / (mx - mn);
  const bool changed = factor != factor_ || mn != scaleMin_;
  factor_ = factor;
  scaleMin_ = mn;
  scaleMax_ = mx;
  return changed;
}

void TProfileSliceList::Refresh() {
  histValid_ = false;
  Rescale();
  RedrawAll();
}

uint8_t TProfileSliceList::ColourIndex(float value) const {
  if (!(value > 0)) return 0;
  const double c = std::floor((value - scaleMin_) * factor_ + 1.0);
  if (!(c >= 1)) return 1;
  return c >= 255 ? 255 : static_cast<uint8_t>(c);
}

void TProfileSliceList::ColourRow(const float* in, const uint8_t* filled, int n, uint8_t* out) const {
  // ColourIndex without branches, so that the loop becomes vector code:
  // floor(c) >= 1 exactly when c >= 1, and truncation is the floor there.
  const double mn = scaleMin_, f = factor_;
  for (int i = 0; i < n; ++i) {
    const float v = in[i];
    double c = (v - mn) * f + 1.0;
    c = c >= ColourCount ? static_cast<double>(ColourCount) : c;
    const int index = c >= 1 ? static_cast<int>(c) : 1;
    out[i] = static_cast<uint8_t>(filled[i] != 0 && v > 0 ? index : 0);
  }
}

void TProfileSliceList::DrawColumn(int64_t column) {
  const int64_t x = column - firstVisible_;
  if (x < 0 || x >= visibleWidth_) return;
  const TProfileSlice* s = FindSlice(column);
  const bool filled = s && s->Filled(column);
  for (int r = 1; r < rows_; ++r) bitmap_.SetPixel(r, static_cast<int>(x), filled ? ColourIndex(s->Value(r, column)) : 0);
}

void TProfileSliceList::RedrawAll() {
  bitmap_.Clear();
  // Slice by slice and line by line: the slices and the picture are both
  // row-major, so this walks memory in order.
  for (const auto& s : slices_) {
    if (!Overlaps(*s)) continue;
    const int64_t from = std::max(s->FirstColumn(), firstVisible_);
    const int64_t to = std::min(s->EndColumn(), firstVisible_ + visibleWidth_);
    if (s->FirstFilled() < 0 || to <= from) continue;
    const int in = static_cast<int>(from - s->FirstColumn()), out = static_cast<int>(from - firstVisible_);
    const int n = static_cast<int>(to - from);
    for (int r = 1; r < rows_; ++r) ColourRow(s->Row(r) + in, s->FilledMask() + in, n, bitmap_.Line(r) + out);
  }
}

int64_t TProfileSliceList::FirstFilledColumn() const {
  for (const auto& s : slices_)
    if (s->FirstFilled() >= 0) return s->FirstFilled();
  return -1;
}

int64_t TProfileSliceList::LastFilledColumn() const {
  for (auto it = slices_.rbegin(); it != slices_.rend(); ++it)
    if ((*it)->LastFilled() >= 0) return (*it)->LastFilled();
  return -1;
}

int64_t TProfileSliceList::EarliestSliceStart() const {
  return slices_.empty() ? std::numeric_limits<int64_t>::max() : slices_.front()->FirstColumn();
}

int TProfileSliceList::DropUpTo(int64_t column) {
  const auto end = std::find_if(slices_.begin(), slices_.end(), [&](const auto& s) { return s->FirstColumn() > column; });
  const int n = static_cast<int>(end - slices_.begin());
  if (n == 0) return 0;
  slices_.erase(slices_.begin(), end);
  histValid_ = false;
  if (updates_) {
    Rescale();
    RedrawAll();
  } else {
    redrawPending_ = rescalePending_ = true;
  }
  return n;
}

void TProfileSliceList::Clear() {
  slices_.clear();
  histValid_ = false;
  factor_ = scaleMin_ = scaleMax_ = 0;
  bitmap_.Clear();
}

}  // namespace OrlaqLidar
