#pragma once
// The program's main window: drives the application object (connection,
// laser, replay of recorded files, mode and model), hosts the display
// controller and reports the kernel's state in its title, status bar and
// message panel.
#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "Config/ExportConfig.h"
#include "Config/GUIConfig.h"
#include "Config/LidarModelList.h"
#include "Platform/MainLoop.h"
#include "Platform/SleepGuard.h"
#include "kernel/Status.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolBar;
class QVBoxLayout;

namespace OrlaqLidar {

class TCommFrm;
class TAdditionalInfoCtrl;
class TDisplayCtrl;
class TLidarApplication;
class TMessageTraceFrm;
class TLidarReplay;
class TStatusFrm;
class TStatusStatePnl;

class TMainFrm : public QMainWindow {
  Q_OBJECT
 public:
  static constexpr int SecTimerMs = 500;

  explicit TMainFrm(TLidarApplication& app, QWidget* parent = nullptr);
  ~TMainFrm() override;

  // Whether this copy may switch to acquisition (it is the first one on
  // the machine and can drive an instrument).
  void SetAcquisitionAllowed(bool on);
  // After the application object's Init: the views on its source and the
  // consumers registered; in acquisition mode the instrument is connected
  // when the settings say so.
  void StartUp();
  // Before the application object's Exit: consumers unregistered, views gone.
  void CloseDown();

  // Replays files: a new set (restarting in reader mode), or an addition.
  // False when nothing could be started.
  bool LoadFiles(const QStringList& files, bool add);
  // Restarts the application object in the other mode; false when refused.
  bool SwitchMode(bool acquisition);
  // Closes without the question, laser switched off first (timed runs).
  void CloseWithoutQuestion();
  // The 500 ms timer's work, also run at once by tests.
  void OnSecTimer();
  // Exports the loaded files with these settings, reading them again from
  // the start; false when the export or the replay could not start.
  bool ExportLoadedFiles(const TExportConfig& settings);
  // The visible quicklook panels as a PNG.
  bool SaveQuicklookImage(const QString& path);

  // The message log's window, shown by its command; it outlives this one.
  void SetMessageTrace(TMessageTraceFrm* window);

  TDisplayCtrl* Display() const { return display_; }
  TCommFrm* CommDetails() const { return commFrm_; }
  TAdditionalInfoCtrl* AdditionalInfo() const { return additionalInfo_; }
  // The status window, once "Comm. Status" has opened it.
  TStatusFrm* StatusWindow() const { return statusFrm_; }
  TGUIConfig& Gui() { return gui_; }
  // Texts of the status-bar panels 0 to 3.
  QString PanelText(int panel) const;
  bool MessagePanelVisible() const;
  QAction* Action(const QString& objectName) const;
  // Levels and profile time of the profile view, the menus following.
  void SetProfileView(int levels, int profileTime);
  // The display settings of Gui() applied to the views at once.
  void ApplyDisplaySettings();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void BuildMessagePanel();
  void BuildModelMenu();
  void Attach();
  void Detach();
  void OnStatusChange(TStatus* status, TState::ChangeRaison reason);
  void RefreshPanels();
  void UpdateCommands();
  void UpdateTitle();
  void UpdateModeControls();
  void ShowMessage(const QString& text, const QString& cancelText = QString());
  void EndLoading();
  void SetControlsEnabled(bool on);
  void ShutDownLaser();
  void WaitForLaserOff(int maxSteps);
  void ApplyLevels();
  void SetPaused(bool paused);

  void OnOpen(bool add);
  void OnPower(bool on);
  void OnConnect(bool on);
  void OnExport(bool on);
  void OnManualExport();
  void OnCancel();
  void OnNote();
  void OnListUsb();
  void OnModelInfo();
  void OnCommStatus();
  void OnModel(const TLidarModel& model);
  void OnProfileTime();
  void OnAfterPulseCalib();
  void OnPolarCalib();
  void UpdateCalibrationMode();
  void OnConfiguration(bool timeSpan);
  void OnProperties();
  void OnSaveQuicklook();

  TLidarApplication& app_;
  TGUIConfig gui_;
  TExportConfig exportConfig_;  // the manual export's settings
  TDisplayCtrl* display_ = nullptr;
  TCommFrm* commFrm_ = nullptr;
  TMessageTraceFrm* messageTrace_ = nullptr;
  TAdditionalInfoCtrl* additionalInfo_ = nullptr;
  TStatusFrm* statusFrm_ = nullptr;  // made on first use, a child of this window
  QWidget* centre_ = nullptr;
  QVBoxLayout* centreLayout_ = nullptr;
  std::vector<TLidarModel> models_;
  bool acquisitionAllowed_ = false;
  bool cancel_ = false;
  bool forceClose_ = false;
  bool closing_ = false;
  bool started_ = false;
  bool paused_ = false;
  bool pausedNote_ = false;
  TMainLoop::TTimerId secTimer_ = 0;
  TMainLoop* timerLoop_ = nullptr;
  // The computer stays awake while the laser is on or on the way.
  std::unique_ptr<TSleepGuard> sleepGuard_;
  uint64_t records_ = 0, recordsAtTick_ = 0;

  QWidget* messagePanel_ = nullptr;
  QLabel* messageLabel_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QLabel* panel0_ = nullptr;
  QLabel* panel1_ = nullptr;
  TStatusStatePnl* panel2_ = nullptr;
  QLabel* panel3_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  QMenu* modelMenu_ = nullptr;
  QMenu* paletteMenu_ = nullptr;
  QActionGroup* levelGroup_ = nullptr;
  QAction* afterPulse_ = nullptr;
};

}  // namespace OrlaqLidar
