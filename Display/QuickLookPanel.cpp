#include "Display/QuickLookPanel.h"

#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

#include "Common/CustomIniFile.h"
#include "Config/LidarConfig.h"
#include "Display/QuicklookDisplayPnl.h"
#include "Display/QuicklookImage.h"
#include "Display/QuicklookScaleDlg.h"
#include "kernel/ManagedProfile.h"

namespace OrlaqLidar {

TQuickLookPanel::TQuickLookPanel(const TLidarConfig& definition, TCustomIniFile* store, bool live, QWidget* parent)
    : QWidget(parent), store_(store) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  palettes_.Load(TPaletteLibrary::DefaultFolder());
  // The first palette in name order would be an arbitrary choice; a
  // rainbow ramp is what lidar quicklooks are usually read in.
  if (!SetPalette("Rainbow") && !palettes_.Entries().empty()) SetPalette(palettes_.Entries().front().Name);
  for (const auto& channel : definition.Channels) {
    if (!channel || channel->Type() != TChannelType::Lidar) continue;
    auto ch = std::make_unique<TQuicklookChannel>(channel->RecordID, *channel);
    ch->Slices().SetLimit(live);
    if (store_) ch->LoadSettings(*store_);
    auto* panel = new TQuicklookDisplayPnl(ch.get(), &palette_, this);
    connect(panel, &TQuicklookDisplayPnl::TimeClicked, this, &TQuickLookPanel::TimeClicked);
    connect(panel, &TQuicklookDisplayPnl::ColourScaleRequested, this, [this, panel] {
      if (!TQuicklookScaleDlg::Edit(this, *panel->Channel())) return;
      // Kept at once: a crash must not lose what the operator chose.
      if (store_) panel->Channel()->SaveSettings(*store_);
      panel->update();
    });
    connect(panel, &TQuicklookDisplayPnl::PaletteChanged, this, [this] {
      for (auto* p : panels_) p->update();
    });
    layout->addWidget(panel, 1);
    byId_[channel->RecordID] = channels_.size();
    channels_.push_back(std::move(ch));
    panels_.push_back(panel);
  }
  if (panels_.empty()) {
    auto* none = new QLabel(tr("No lidar channel in the instrument definition"), this);
    none->setAlignment(Qt::AlignCenter);
    layout->addWidget(none, 1);
  }
}

TQuickLookPanel::~TQuickLookPanel() {
  if (store_)
    for (const auto& ch : channels_) ch->SaveSettings(*store_);
}

TQuicklookChannel* TQuickLookPanel::Channel(int channelId) const {
  const auto it = byId_.find(channelId);
  return it == byId_.end() ? nullptr : channels_[it->second].get();
}

std::vector<const TQuicklookChannel*> TQuickLookPanel::Channels() const {
  std::vector<const TQuicklookChannel*> v;
  for (const auto& ch : channels_) v.push_back(ch.get());
  return v;
}

bool TQuickLookPanel::AddProfile(const TManagedProfile& profile) {
  const auto it = byId_.find(profile.ChannelID);
  if (it == byId_.end()) return false;
  if (!profile.Open) CheckMemory();
  channels_[it->second]->AddProfile(profile);
  panels_[it->second]->update();
  return true;
}

void TQuickLookPanel::CheckMemory() {
  TMemoryWatch::TPanels panels;
  panels.EarliestStart = [this] {
    int64_t earliest = -1;
    for (const auto& ch : channels_) {
      const int64_t s = ch->Slices().EarliestSliceStart();
      if (s == std::numeric_limits<int64_t>::max()) continue;  // no slice
      if (earliest < 0 || s < earliest) earliest = s;
    }
    return earliest;
  };
  panels.DropUpTo = [this](int64_t column) {
    int n = 0;
    for (const auto& ch : channels_) n += ch->Slices().DropUpTo(column);
    return n;
  };
  if (watch_.Check(false, panels) > 0)
    for (size_t i = 0; i < channels_.size(); ++i) {
      channels_[i]->Slices().Refresh();
      panels_[i]->update();
    }
}

void TQuickLookPanel::AddEvent(int sourceId, TDateTime time, const std::string& text) {
  const auto it = byId_.find(sourceId);
  for (size_t i = 0; i < channels_.size(); ++i) {
    if (it != byId_.end() && it->second != i) continue;
    channels_[i]->AddEvent(time, text);
    panels_[i]->update();
  }
}

void TQuickLookPanel::SetAutoScroll(bool on) {
  autoScroll_ = on;
  for (const auto& ch : channels_) {
    ch->SetAutoScroll(on);
    if (on) ch->FitWindow();
  }
  for (auto* p : panels_) p->update();
}

void TQuickLookPanel::SetShowEvents(bool on) {
  options_.ShowEvents = on;
  for (auto* p : panels_) {
    p->Options().ShowEvents = on;
    p->update();
  }
}

void TQuickLookPanel::SetShowMinMaxLabels(bool on) {
  options_.ShowMinMaxLabels = on;
  for (auto* p : panels_) {
    p->Options().ShowMinMaxLabels = on;
    p->update();
  }
}

void TQuickLookPanel::SetTimeSpan(int minutes) {
  for (const auto& ch : channels_) ch->SetTimeSpan(minutes);
  for (auto* p : panels_) p->update();
}

void TQuickLookPanel::Reset() {
  for (const auto& ch : channels_) ch->Clear();
  for (auto* p : panels_) p->update();
}

bool TQuickLookPanel::SetPalette(const std::string& name) {
  const TPaletteLibrary::TEntry* entry = palettes_.Find(name);
  if (!entry) return false;
  palette_.SetPalette(entry->Colours, entry->Name);
  for (auto* p : panels_) p->update();
  return true;
}

bool TQuickLookPanel::SavePng(const std::string& path, const QSize& size) const {
  return !channels_.empty() && TQuicklookImage::SavePng(path, size, Channels(), palette_, options_);
}

}  // namespace OrlaqLidar
