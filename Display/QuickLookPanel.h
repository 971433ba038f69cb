#pragma once
// The quicklook of every lidar channel of the instrument, one panel above
// the other: routes profiles and events to the panel of their channel,
// holds the palette, the automatic-scrolling switch and the memory watch.
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Display/MemoryWatch.h"
#include "Display/PaletteContrast.h"
#include "Display/PaletteLibrary.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookPainter.h"

class QVBoxLayout;

namespace OrlaqLidar {

class TLidarConfig;
class TManagedProfile;
class TCustomIniFile;
class TQuicklookDisplayPnl;

class TQuickLookPanel : public QWidget {
  Q_OBJECT
 public:
  // One panel per lidar channel of the definition; each loads its
  // colour-scale settings from the store (not owned, may be null) and
  // saves them when the container goes. live: the 48-hour limit applies.
  TQuickLookPanel(const TLidarConfig& definition, TCustomIniFile* store, bool live, QWidget* parent = nullptr);
  ~TQuickLookPanel() override;

  // A profile to the panel of its channel; a completed one is preceded by
  // the memory watch. False when no panel shows that channel.
  bool AddProfile(const TManagedProfile& profile);
  // An event of a channel goes to its panel; one of no lidar channel (a
  // note of the operator) to every panel.
  void AddEvent(int sourceId, TDateTime time, const std::string& text);

  void SetAutoScroll(bool on);
  bool AutoScroll() const { return autoScroll_; }
  void SetShowEvents(bool on);
  void SetShowMinMaxLabels(bool on);
  void SetTimeSpan(int minutes);
  void Reset();

  const TPaletteLibrary& Palettes() const { return palettes_; }
  // Chooses a palette of the library by name; false when unknown.
  bool SetPalette(const std::string& name);
  const TPaletteContrast& Palette() const { return palette_; }

  int PanelCount() const { return static_cast<int>(panels_.size()); }
  TQuicklookDisplayPnl* Panel(int index) const { return panels_[static_cast<size_t>(index)]; }
  TQuicklookChannel* Channel(int channelId) const;
  std::vector<const TQuicklookChannel*> Channels() const;
  TMemoryWatch& MemoryWatch() { return watch_; }

  // The stacked panels as a PNG; false when it could not be written.
  bool SavePng(const std::string& path, const QSize& size) const;

 signals:
  void TimeClicked(double time, double metres);

 private:
  void CheckMemory();

  TCustomIniFile* store_;
  std::vector<std::unique_ptr<TQuicklookChannel>> channels_;
  std::vector<TQuicklookDisplayPnl*> panels_;
  std::map<int, size_t> byId_;
  TPaletteLibrary palettes_;
  TPaletteContrast palette_;
  TQuicklookPaintOptions options_;
  TMemoryWatch watch_;
  bool autoScroll_ = true;
};

}  // namespace OrlaqLidar
