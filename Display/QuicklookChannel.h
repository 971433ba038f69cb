#pragma once
// What a quicklook panel shows for one lidar channel, without the widget:
// the stored columns and picture, the time window that follows the data,
// the event marks and the colour-scale settings.
#include <cstdint>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Display/ProfileSliceList.h"
#include "Display/QuicklookAxes.h"
#include "Display/QuicklookColorScale.h"

namespace OrlaqLidar {

class TManagedProfile;
class TChannelConfig;

struct TQuicklookEvent {
  TDateTime Time = 0;
  std::string Text;
};

class TQuicklookChannel {
 public:
  TQuicklookChannel(int channelId, std::string name, int rows, double gateTime, double offsetTime,
                    int step = TQuicklookGrid::DefaultStep);
  // Rows = gate count, gate and offset time and name from the definition.
  TQuicklookChannel(int channelId, const TChannelConfig& channel, int step = TQuicklookGrid::DefaultStep);

  int ChannelId() const { return id_; }
  const std::string& Name() const { return name_; }
  double GateTime() const { return gateTime_; }
  double OffsetTime() const { return offsetTime_; }
  TProfileSliceList& Slices() { return slices_; }
  const TProfileSliceList& Slices() const { return slices_; }

  // Adds a profile's processed signal; follows it with the time window
  // when scrolling automatically. Returns the column.
  int64_t AddProfile(TDateTime start, TDateTime last, const double* values, int count, bool running);
  int64_t AddProfile(TDateTime start, TDateTime last, const std::vector<double>& values, bool running) {
    return AddProfile(start, last, values.data(), static_cast<int>(values.size()), running);
  }
  int64_t AddProfile(const TManagedProfile& profile);
  void AddEvent(TDateTime time, const std::string& text);
  const std::vector<TQuicklookEvent>& Events() const { return events_; }

  // Minutes shown; 0 follows the data extent.
  void SetTimeSpan(int minutes);
  int TimeSpan() const { return spanMinutes_; }
  void SetAutoScroll(bool on) { autoScroll_ = on; }
  bool AutoScroll() const { return autoScroll_; }
  // The window shown now; the picture is kept one column left of its start.
  TTimeWindow Window() const { return window_; }
  // Moves the window to end at endUnix seconds (a pan by the user).
  void ShowWindow(const TTimeWindow& window);
  // Window fitted to the data again, and the picture with it.
  void FitWindow();

  // Zoom: a part of the picture, which stays as it is meanwhile (its
  // updates wait for the end of the zoom). The window is clamped to at
  // least two columns, the range to at least two rows.
  void Zoom(const TTimeWindow& window, double minKm, double maxKm);
  void EndZoom();
  bool Zoomed() const { return zoomed_; }
  // What the panel shows: the zoomed part, or the window and whole range.
  TTimeWindow ViewWindow() const { return zoomed_ ? zoomWindow_ : window_; }
  double ViewMinKm() const { return zoomed_ ? zoomMinKm_ : RangeMinKm(); }
  double ViewMaxKm() const { return zoomed_ ? zoomMaxKm_ : RangeMaxKm(); }

  const TQuicklookColorScale& ColorScale() const { return scale_; }
  void SetColorScale(const TQuicklookColorScale& scale);
  void LoadSettings(const TCustomIniFile& store);
  void SaveSettings(TCustomIniFile& store) const;

  double RangeMaxKm() const { return TQuicklookAxes::RangeMaxKm(slices_.Rows(), gateTime_, offsetTime_); }
  double RangeMinKm() const { return TQuicklookAxes::OffsetKm(offsetTime_); }
  void Clear();

 private:
  void Follow(int64_t lastColumn);

  int id_;
  std::string name_;
  double gateTime_, offsetTime_;
  TProfileSliceList slices_;
  std::vector<TQuicklookEvent> events_;
  int spanMinutes_ = 0;
  bool autoScroll_ = true;
  TTimeWindow window_;
  TQuicklookColorScale scale_;
  bool zoomed_ = false;
  TTimeWindow zoomWindow_;
  double zoomMinKm_ = 0, zoomMaxKm_ = 0;
};

}  // namespace OrlaqLidar
