#include "Display/DisplayCtrl.h"

#include <QSplitter>
#include <QVBoxLayout>
#include <cmath>

#include "Config/ApplicationConfig.h"
#include "Config/GUIConfig.h"
#include "Display/ProfileView.h"
#include "Display/QuickLookPanel.h"
#include "Display/QuicklookGrid.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarManager.h"
#include "kernel/files/LidarReplay.h"
#include "kernel/processing/AfterPulseCalibration.h"

namespace OrlaqLidar {

namespace {
int64_t Period(TDateTime t, int profileTime) {
  const int64_t unix = TQuicklookGrid::UnixSeconds(t);
  return profileTime > 0 ? unix / profileTime : unix;
}
}  // namespace

TDisplayCtrl::TDisplayCtrl(TLidarManager* source, TApplicationConfig& config, TGUIConfig& gui,
                           TCustomIniFile* store, QWidget* parent)
    : QWidget(parent),
      source_(source),
      config_(config),
      gui_(gui),
      qlArgs_(TProcessingSetup(QuicklookLevels, QuicklookProfileTime), &config.LidarConfig, &config.Setup),
      profileArgs_(TProcessingSetup(gui.ProfileProcessing, gui.ProfileTime), &config.LidarConfig, &config.Setup) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Horizontal, this);
  quicklook_ = new TQuickLookPanel(config.LidarConfig, store, Live(), splitter_);
  quicklook_->SetShowEvents(gui.ShowEvents);
  quicklook_->SetShowMinMaxLabels(gui.ShowQLMinMaxLabel);
  quicklook_->SetTimeSpan(gui.QLTimeSpanMin);
  quicklook_->MemoryWatch().SetDebug(config.DebugMode);
  profiles_ = new TProfileView(config.LidarConfig, splitter_);
  profiles_->Display().Apply(gui);
  profiles_->setRenderHint(QPainter::Antialiasing, gui.HQProfile && !gui.MidLowEndPC);
  splitter_->addWidget(quicklook_);
  splitter_->addWidget(profiles_);
  splitter_->setStretchFactor(0, 5);
  splitter_->setStretchFactor(1, 2);
  // The chart needs room for a log axis's decades and the channel legend.
  profiles_->setMinimumWidth(340);
  layout->addWidget(splitter_);
  connect(quicklook_, &TQuickLookPanel::TimeClicked, this, [this](double time, double) { Explore(time); });

  qlManager_ = std::make_unique<TDataManager>(&qlArgs_, source_);
  qlManager_->FOnManagedDatas = [this](const TProfile& p) { OnQuicklookProfile(p); };
  qlManager_->FOnEvent = [this](int sourceId, const std::string& code, TDateTime time, const std::string& comment) {
    if (updates_ && !exploring_) quicklook_->AddEvent(sourceId, time, code + ": " + comment);
  };
  MakeProfileManager();
}

TDisplayCtrl::~TDisplayCtrl() {
  // The managers unregister from the source before the views go.
  profileManager_.reset();
  qlManager_.reset();
}

bool TDisplayCtrl::Live() const { return source_ && !source_->IsReplay(); }

void TDisplayCtrl::MakeProfileManager() {
  profileManager_.reset();
  profileManager_ = std::make_unique<TDataManager>(&profileArgs_, source_);
  profileManager_->FOnManagedDatas = [this](const TProfile& p) { OnProfileViewProfile(p); };
}

void TDisplayCtrl::ApplySettings() {
  quicklook_->SetShowMinMaxLabels(gui_.ShowQLMinMaxLabel);
  quicklook_->SetTimeSpan(gui_.QLTimeSpanMin);
  quicklook_->MemoryWatch().SetDebug(config_.DebugMode);
  profiles_->Display().Apply(gui_);
  profiles_->setRenderHint(QPainter::Antialiasing, gui_.HQProfile && !gui_.MidLowEndPC);
  profiles_->Refresh();
}

void TDisplayCtrl::SetProcessing(int levelMask, int profileTime) {
  profileArgs_.Setup = TProcessingSetup(levelMask, profileTime);
  MakeProfileManager();
  profiles_->Display().SetLevelMask(levelMask);
  profiles_->Refresh();
}

void TDisplayCtrl::SetShowProfile(bool on) { profiles_->setVisible(on); }

void TDisplayCtrl::Reset() {
  quicklook_->Reset();
  profiles_->Display().Clear();
  profiles_->Refresh();
  qlManager_->Reset();
  profileManager_->Reset();
  exploring_ = false;
}

void TDisplayCtrl::OnQuicklookProfile(const TProfile& profile) {
  if (!updates_ || exploring_ || !profile) return;
  // Live, a normal machine draws the running column after every shot and
  // the last running profile already holds every shot of the column.
  const bool completedOnly = !Live() || gui_.MidLowEndPC;
  if (profile->Open == completedOnly) return;
  quicklook_->AddProfile(*profile);
}

void TDisplayCtrl::OnProfileViewProfile(const TProfile& profile) {
  if (!updates_ || !profile) return;
  if (Live()) {
    if (!profile->Open) return;  // shown already, shot by shot
  } else if (exploringFromInstant_) {
    // The period starts at the clicked instant; the remnant read after it is too short to show.
    if (!exploring_ || profile->Open || !TAfterPulseCalibration::LongEnough(*profile, profileArgs_.Setup.ProfileTime))
      return;
  } else {
    if (!exploring_ || profile->Open || Period(profile->StartTime, profileArgs_.Setup.ProfileTime) != exploredPeriod_)
      return;
  }
  profiles_->Display().AddProfile(*profile);
  profiles_->ScheduleRefresh();
}

void TDisplayCtrl::OnStatusChange(const TStatus& status) {
  replayLoading_ = status.ReplayState() == TLidarReplay::ReplayLoading ||
                   status.ReplayState() == TLidarReplay::ReplayLoadingFiles;
  if (status.ReplayState() == TLidarReplay::ReplayDone && exploring_) {
    exploring_ = false;
    profiles_->Refresh();
  }
}

bool TDisplayCtrl::Explore(TDateTime time) {
  auto* replay = dynamic_cast<TLidarReplay*>(source_);
  if (!replay || replayLoading_) return false;
  const int p = profileArgs_.Setup.ProfileTime;
  const int64_t unix = TQuicklookGrid::UnixSeconds(time);
  const int64_t aligned = p > 0 ? unix / p * p : unix;
  const TDateTime start = UnixToDateTime(static_cast<double>(aligned));
  const bool found =
      calibrationOpen_ ? replay->Goto(time - 1 / SecondsPerDay, time + (p + 10) / SecondsPerDay, 3)
                       : replay->Goto(start + (p / 2 - 3) / SecondsPerDay, start + p / SecondsPerDay, p / 2 + 3);
  if (!found) {
    Log(FormatDateTime(time, false) + " :Profile not found");
    return false;
  }
  profiles_->Display().Clear();
  profiles_->Refresh();
  exploring_ = true;
  exploredPeriod_ = Period(start, p);
  exploringFromInstant_ = calibrationOpen_;
  profileManager_->Reset();
  // From an instant, the profile starts with the first shot replayed.
  profileManager_->Aligned = !exploringFromInstant_;
  if (!replay->Start()) {
    exploring_ = false;
    return false;
  }
  return true;
}

}  // namespace OrlaqLidar
