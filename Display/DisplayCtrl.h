#pragma once
// The main window's views on one acquisition source: the quicklook of every
// lidar channel (fed by a data manager of 60-second profiles with every
// processing level) and the profile chart (fed by a data manager with the
// levels and profile time chosen in the main window). Made anew whenever
// the source or the instrument definition changes.
#include <QWidget>
#include <memory>

#include "Common/DateTime.h"
#include "kernel/processing/DataManager.h"
#include "kernel/processing/ProcessingArgs.h"

class QSplitter;

namespace OrlaqLidar {

class TApplicationConfig;
class TCustomIniFile;
class TGUIConfig;
class TLidarManager;
class TQuickLookPanel;
class TProfileView;
class TStatus;

class TDisplayCtrl : public QWidget {
  Q_OBJECT
 public:
  static constexpr int QuicklookProfileTime = 60;
  static constexpr int QuicklookLevels = 63;

  // Neither the source, the settings nor the store are owned; they must
  // outlive the controller.
  TDisplayCtrl(TLidarManager* source, TApplicationConfig& config, TGUIConfig& gui, TCustomIniFile* store,
               QWidget* parent = nullptr);
  ~TDisplayCtrl() override;

  TQuickLookPanel* Quicklook() const { return quicklook_; }
  TProfileView* Profiles() const { return profiles_; }
  TDataManager& QuicklookManager() { return *qlManager_; }

  // Levels and profile time of the profile view (its data manager is
  // made again with them).
  void SetProcessing(int levelMask, int profileTime);
  int ProfileTime() const { return profileArgs_.Setup.ProfileTime; }
  void SetShowProfile(bool on);
  // The display settings applied to both views (after the settings dialog).
  void ApplySettings();
  // Clears both views (a new set of files, a new start).
  void Reset();
  // Stops and resumes feeding the views (manual export reads everything).
  void SetUpdates(bool on) { updates_ = on; }

  // The main window's status consumer passes every change on.
  void OnStatusChange(const TStatus& status);
  // A click on a replayed time: the profile of that period in the profile view.
  // False when the source holds no such time.
  bool Explore(TDateTime time);
  // While a calibration window is open a click replays one profile time
  // from the clicked instant itself, for the calibration to measure.
  void SetCalibrationOpen(bool on) { calibrationOpen_ = on; }
  bool CalibrationOpen() const { return calibrationOpen_; }

 private:
  void MakeProfileManager();
  void OnQuicklookProfile(const TProfile& profile);
  void OnProfileViewProfile(const TProfile& profile);
  bool Live() const;

  TLidarManager* source_;
  TApplicationConfig& config_;
  TGUIConfig& gui_;
  TProcessingArgs qlArgs_;
  TProcessingArgs profileArgs_;
  std::unique_ptr<TDataManager> qlManager_;
  std::unique_ptr<TDataManager> profileManager_;
  QSplitter* splitter_;
  TQuickLookPanel* quicklook_;
  TProfileView* profiles_;
  bool updates_ = true;
  bool replayLoading_ = false;
  // While exploring, the replay reads one period again: the quicklook
  // keeps what it has and the profile view waits for that period.
  bool exploring_ = false;
  int64_t exploredPeriod_ = -1;
  bool calibrationOpen_ = false;
  bool exploringFromInstant_ = false;
};

}  // namespace OrlaqLidar
