#include "Display/QuicklookChannel.h"

#include <algorithm>
#include <cmath>

#include "Config/ChannelConfig.h"
#include "kernel/ManagedProfile.h"

namespace OrlaqLidar {

namespace {
int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
}  // namespace

TQuicklookChannel::TQuicklookChannel(int channelId, std::string name, int rows, double gateTime, double offsetTime,
                                     int step)
    : id_(channelId), name_(std::move(name)), gateTime_(gateTime), offsetTime_(offsetTime), slices_(rows, step) {
  window_ = TQuicklookAxes::TimeWindow(spanMinutes_, 0, 0, step);
}

TQuicklookChannel::TQuicklookChannel(int channelId, const TChannelConfig& channel, int step)
    : TQuicklookChannel(channelId, channel.Name, channel.DoorsUsed, channel.DoorsTime, channel.OffsetTime, step) {}

int64_t TQuicklookChannel::AddProfile(TDateTime start, TDateTime last, const double* values, int count,
                                      bool running) {
  // Move the picture first, so that the new column is drawn only once.
  const int64_t column = TQuicklookGrid::ColumnIndex(start, slices_.Step());
  if (autoScroll_ && column >= slices_.LastFilledColumn()) Follow(column);
  return slices_.AddProfile(start, last, values, count, running);
}

int64_t TQuicklookChannel::AddProfile(const TManagedProfile& profile) {
  const int n = std::min(profile.ActiveDoors, static_cast<int>(profile.Signal.size()));
  return AddProfile(profile.StartTime, profile.LastTime, profile.Signal.data(), std::max(n, 0), profile.Open);
}

void TQuicklookChannel::AddEvent(TDateTime time, const std::string& text) { events_.push_back({time, text}); }

void TQuicklookChannel::SetTimeSpan(int minutes) {
  spanMinutes_ = std::max(minutes, 0);
  FitWindow();
}

void TQuicklookChannel::Follow(int64_t lastColumn) {
  const int64_t first = slices_.FirstFilledColumn();
  window_ = TQuicklookAxes::TimeWindow(spanMinutes_, first < 0 ? lastColumn : std::min(first, lastColumn), lastColumn,
                                       slices_.Step());
  slices_.SetFirstVisibleColumn(window_.Start / slices_.Step() - 1);
}

void TQuicklookChannel::ShowWindow(const TTimeWindow& window) {
  window_ = window;
  slices_.SetFirstVisibleColumn(window_.Start / slices_.Step() - 1);
}

void TQuicklookChannel::FitWindow() {
  const int64_t last = slices_.LastFilledColumn();
  if (last >= 0) Follow(last);
}

void TQuicklookChannel::Zoom(const TTimeWindow& window, double minKm, double maxKm) {
  // Whole columns and whole rows, so that the axes match the picture.
  const int64_t step = slices_.Step();
  const int64_t first = FloorDiv(std::min(window.Start, window.End), step);
  const int64_t end = std::max(-FloorDiv(-std::max(window.Start, window.End), step), first + 2);
  zoomWindow_ = {first * step, end * step};
  const int rows = slices_.Rows();
  const double lo = TQuicklookAxes::RowOf(std::min(minKm, maxKm), gateTime_, offsetTime_);
  const double hi = TQuicklookAxes::RowOf(std::max(minKm, maxKm), gateTime_, offsetTime_);
  int rowLo = static_cast<int>(std::clamp(std::floor(lo), 0.0, static_cast<double>(rows)));
  int rowHi = static_cast<int>(std::clamp(std::ceil(hi), 0.0, static_cast<double>(rows)));
  if (rowHi - rowLo < 2) {
    rowHi = std::min(rowLo + 2, rows);
    rowLo = std::max(rowHi - 2, 0);
  }
  const double bin = TQuicklookAxes::BinWidthKm(gateTime_);
  zoomMinKm_ = RangeMinKm() + rowLo * bin;
  zoomMaxKm_ = RangeMinKm() + rowHi * bin;
  if (!zoomed_) slices_.SetUpdatesEnabled(false);
  zoomed_ = true;
}

void TQuicklookChannel::EndZoom() {
  if (!zoomed_) return;
  zoomed_ = false;
  slices_.SetUpdatesEnabled(true);
}

void TQuicklookChannel::SetColorScale(const TQuicklookColorScale& scale) {
  scale_ = scale;
  slices_.SetManualScale(scale.Manual, scale.Max, scale.Min);
  slices_.Refresh();
}

void TQuicklookChannel::LoadSettings(const TCustomIniFile& store) {
  TQuicklookColorScale s;
  s.Load(store, id_);
  SetColorScale(s);
}

void TQuicklookChannel::SaveSettings(TCustomIniFile& store) const { scale_.Save(store, id_); }

void TQuicklookChannel::Clear() {
  EndZoom();
  slices_.Clear();
  events_.clear();
}

}  // namespace OrlaqLidar
