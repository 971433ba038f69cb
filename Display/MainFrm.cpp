#include "Display/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "Common/DateTime.h"
#include "Common/SolarTime.h"
#include "Display/AdditionalInfoCtrl.h"
#include "Display/AFValidFrm.h"
#include "Display/AxisRangeDlg.h"
#include "Display/CommFrm.h"
#include "Display/AppConfigFrm.h"
#include "Display/AxisRangeDlg.h"
#include "Display/CalibrationUnzip.h"
#include "Display/LidarSetupFrm.h"
#include "Display/DisplayCtrl.h"
#include "Display/ManualExportDlg.h"
#include "Export/ExportSession.h"
#include "Display/MainFrmState.h"
#include "Display/MessageTraceFrm.h"
#include "Display/ModelInformation.h"
#include "Display/PolarCalibFrm.h"
#include "Display/ProfileView.h"
#include "Display/QuickLookPanel.h"
#include "Display/StatusFrm.h"
#include "Display/StatusStatePnl.h"
#include "Platform/Services.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarApplication.h"
#include "kernel/files/LidarReplay.h"

namespace OrlaqLidar {

namespace {
constexpr const char* GeometryKey = "MainFrmGeometry";
constexpr const char* StateKey = "MainFrmState";

QString Q(const std::string& s) { return QString::fromStdString(s); }

void ShowToolWindow(QWidget* window) {
  if (!window) return;
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
}
}  // namespace

TMainFrm::TMainFrm(TLidarApplication& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  gui_.Load(app_.Store());
  setWindowTitle(Q(TMainFrmState::Title(app_.Config.AcquisitionMode, {})));
  centre_ = new QWidget(this);
  centreLayout_ = new QVBoxLayout(centre_);
  centreLayout_->setContentsMargins(2, 2, 2, 2);
  setCentralWidget(centre_);
  commFrm_ = new TCommFrm(this);
  // Below the views, which are inserted above it.
  additionalInfo_ = new TAdditionalInfoCtrl(app_.Config, centre_);
  centreLayout_->addWidget(additionalInfo_);
  BuildMenus();
  BuildMessagePanel();
  BuildStatusBar();
  setAcceptDrops(true);
  resize(1280, 800);
}

TMainFrm::~TMainFrm() { CloseDown(); }

QAction* TMainFrm::Action(const QString& objectName) const { return findChild<QAction*>(objectName); }

void TMainFrm::BuildMenus() {
  auto add = [this](QMenu* menu, const QString& name, const QString& text, auto slot) {
    auto* a = menu->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  auto* open = add(file, "actOpen", tr("Open..."), [this] { OnOpen(false); });
  open->setShortcut(QKeySequence::Open);
  open->setStatusTip(tr("Open skv2 files"));
  add(file, "actAdd", tr("Add..."), [this] { OnOpen(true); });
  auto* manualExport = add(file, "actManualExport", tr("Export..."), [this] { OnManualExport(); });
  manualExport->setIconText(tr("Export"));
  manualExport->setToolTip(tr("Export viewed data"));
  auto* acq = add(file, "actAcquisitionMode", tr("Acquisition Mode"), [this] { SwitchMode(true); });
  acq->setStatusTip(tr("Switch application in acquisition mode"));
  file->addSeparator();
  add(file, "actSaveQuicklook", tr("Save quicklook image..."), [this] { OnSaveQuicklook(); });
  file->addSeparator();
  add(file, "actMessageTrace", tr("Show Messages trace...."), [this] { ShowToolWindow(messageTrace_); })
      ->setEnabled(false);
  add(file, "actCommDetail", tr("Communication detail..."), [this] { ShowToolWindow(commFrm_); });
  add(file, "actListUsb", tr("List USB device..."), [this] { OnListUsb(); });
  file->addSeparator();
  auto* quit = add(file, "actQuit", tr("Quit"), [this] { close(); });
  quit->setShortcut(QKeySequence::Quit);

  QMenu* lidar = menuBar()->addMenu(tr("&Lidar"));
  auto* power = add(lidar, "actPower", tr("Power"), [this](bool on) { OnPower(on); });
  power->setCheckable(true);
  power->setShortcut(Qt::Key_F3);
  power->setIconText(tr("Po&wer"));
  power->setToolTip(tr("Laser Power On/Off"));
  auto* exportAct = add(lidar, "actExport", tr("Export"), [this](bool on) { OnExport(on); });
  exportAct->setCheckable(true);
  exportAct->setShortcut(Qt::Key_F4);
  exportAct->setIconText(tr("&Export"));
  exportAct->setToolTip(tr("Start / Stop Export"));
  auto* connectAct = add(lidar, "actConnect", tr("Connect"), [this](bool on) { OnConnect(on); });
  connectAct->setCheckable(true);
  connectAct->setShortcut(Qt::Key_F5);
  connectAct->setToolTip(tr("Connect instrument On/off"));
  lidar->addSeparator();
  add(lidar, "actProperties", tr("Properties..."), [this] { OnProperties(); });
  add(lidar, "actAfterPulseCalib", tr("Perform After Pulse calibration..."), [this] { OnAfterPulseCalib(); });
  add(lidar, "actPolarCalib", tr("Perform polarization calibration..."), [this] { OnPolarCalib(); });
  lidar->addSeparator();
  modelMenu_ = lidar->addMenu(tr("Lidar Model"));
  add(lidar, "actModelInfo", tr("Current Lidar Model Informations..."), [this] { OnModelInfo(); });
  add(lidar, "actCommStatus", tr("Comm. Status"), [this] { OnCommStatus(); });

  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  add(tools, "actConfiguration", tr("Configuration..."), [this] { OnConfiguration(false); });
  add(tools, "actNote", tr("Add a note in the stream..."), [this] { OnNote(); });
  add(tools, "actUnzip", tr("Unzip calibration in place ..."),
      [this] { TCalibrationUnzip::Run(this, app_.Config); });

  QMenu* profiles = menuBar()->addMenu(tr("&Profiles"));
  add(profiles, "actProfileTime", tr("Integration time ..."), [this] { OnProfileTime(); });
  QMenu* levels = profiles->addMenu(tr("Signal processing"));
  levelGroup_ = new QActionGroup(this);
  const int checkedLevel = TMainFrmState::LevelIndex(gui_.ProfileProcessing);
  for (size_t i = 0; i < TMainFrmState::Levels.size(); ++i) {
    auto* a = levels->addAction(QString::fromUtf8(TMainFrmState::Levels[i].Caption));
    a->setCheckable(true);
    a->setData(TMainFrmState::Levels[i].Mask);
    a->setChecked(static_cast<int>(i) == checkedLevel);
    levelGroup_->addAction(a);
    connect(a, &QAction::triggered, this, &TMainFrm::ApplyLevels);
  }
  levels->addSeparator();
  afterPulse_ = add(levels, "actAfterPulse", QString::fromUtf8(TMainFrmState::AfterPulse.Caption),
                    [this] { ApplyLevels(); });
  afterPulse_->setCheckable(true);
  afterPulse_->setChecked((gui_.ProfileProcessing & TMainFrmState::AfterPulse.Mask) != 0);
  add(profiles, "actCountsAxis", tr("Manual counts axis scale..."), [this] {
    if (!TAxisRangeDlg::Edit(this, tr("Counts axis"), QString(), gui_.MinCount, gui_.MaxCount, gui_.AutCount)) return;
    if (!display_) return;
    display_->Profiles()->Display().SetManualValues(gui_.AutCount, gui_.MinCount, gui_.MaxCount);
    display_->Profiles()->Refresh();
  });
  QMenu* axis = profiles->addMenu(tr("Counts axis in log. scale..."));
  auto* axisGroup = new QActionGroup(this);
  const char* axisNames[] = {"Automatic", "Linear", "Log"};
  for (int mode = 0; mode < 3; ++mode) {
    auto* a = axis->addAction(tr(axisNames[mode]));
    a->setCheckable(true);
    a->setChecked(mode == 0);
    axisGroup->addAction(a);
    connect(a, &QAction::triggered, this, [this, mode] {
      if (!display_) return;
      display_->Profiles()->Display().SetAxisMode(static_cast<TProfileDisplay::TAxisMode>(mode));
      display_->Profiles()->Refresh();
    });
  }
  add(profiles, "actDistanceAxis", tr("Profile/QL manual distance axis ..."), [this] {
    // Stored in metres, edited in km.
    double minKm = gui_.MinDist / 1000.0, maxKm = gui_.MaxDist / 1000.0;
    if (!TAxisRangeDlg::Edit(this, tr("Distance (km)"), tr("(km)"), minKm, maxKm, gui_.AutDist)) return;
    gui_.MinDist = minKm * 1000.0;
    gui_.MaxDist = maxKm * 1000.0;
    if (!display_) return;
    display_->Profiles()->Display().SetManualDistance(gui_.AutDist, minKm, maxKm);
    display_->Profiles()->Refresh();
  });
  auto* altitude = add(profiles, "actAltitude", tr("Show profile by Altitude"), [this](bool on) {
    gui_.ShowAltitude = on;
    if (!display_) return;
    display_->Profiles()->Display().SetAltitude(on);
    display_->Profiles()->Refresh();
  });
  altitude->setCheckable(true);
  altitude->setChecked(gui_.ShowAltitude);
  auto* rayleigh = add(profiles, "actRayleigh", tr("Show simplified Rayleigh slope"), [this](bool on) {
    gui_.ShowRayleighSlope = on;
    if (!display_) return;
    display_->Profiles()->Display().SetRayleigh(on);
    display_->Profiles()->Refresh();
  });
  rayleigh->setCheckable(true);
  rayleigh->setChecked(gui_.ShowRayleighSlope);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  auto* showProfile = add(view, "actShowProfile", tr("Show Profile"), [this](bool on) {
    if (display_) display_->SetShowProfile(on);
  });
  showProfile->setCheckable(true);
  showProfile->setChecked(true);
  auto* additionalInfo = add(view, "actAdditionalInfo", tr("Show Additionnal info"), [this](bool on) {
    additionalInfo_->setVisible(on);
  });
  additionalInfo->setCheckable(true);
  additionalInfo->setChecked(true);
  auto* events = add(view, "actShowEvents", tr("Show Events"), [this](bool on) {
    gui_.ShowEvents = on;
    if (display_) display_->Quicklook()->SetShowEvents(on);
  });
  events->setCheckable(true);
  events->setChecked(gui_.ShowEvents);
  paletteMenu_ = view->addMenu(tr("History color scale"));
  add(view, "actQLTimeSpan", tr("QuickLook time span..."), [this] { OnConfiguration(true); });

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add(help, "actCaveats", tr("Known Caveats"), [this] {
    QMessageBox::information(this, tr("Known Caveats"), QString::fromUtf8(TMainFrmState::CaveatsText));
  });
  add(help, "actReleaseNotes", tr("Release Notes"), [] {
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("ReleaseNote.html");
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  });
  add(help, "actAbout", tr("About..."), [this] {
    QMessageBox::about(this, tr("About Skyvane"),
                       tr("<b>Skyvane</b> %1<br>Acquisition, viewing, recording and export of the Orlaq "
                          "ground-based atmospheric lidar.")
                           .arg(QCoreApplication::applicationVersion()));
  });

  auto* pause = new QAction(tr("Pause QL"), this);
  pause->setObjectName("actPause");
  pause->setCheckable(true);
  pause->setToolTip(tr("Pause history refresh"));
  connect(pause, &QAction::triggered, this, [this](bool on) { SetPaused(on); });

  toolbar_ = addToolBar(tr("Commands"));
  toolbar_->setObjectName("Toolbar");
  toolbar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto* openButton = toolbar_->addAction(tr("&Open"));
  openButton->setObjectName("actOpenButton");
  openButton->setToolTip(tr("Open skv2 files"));
  connect(openButton, &QAction::triggered, this, [this] { OnOpen(false); });
  toolbar_->addSeparator();
  toolbar_->addAction(connectAct);
  toolbar_->addAction(power);
  toolbar_->addAction(exportAct);
  toolbar_->addAction(manualExport);
  toolbar_->addSeparator();
  toolbar_->addAction(pause);
}

void TMainFrm::BuildMessagePanel() {
  messagePanel_ = new QWidget(centre_);
  auto* row = new QHBoxLayout(messagePanel_);
  row->setContentsMargins(4, 2, 4, 2);
  messageLabel_ = new QLabel(messagePanel_);
  progress_ = new QProgressBar(messagePanel_);
  progress_->setTextVisible(false);
  progress_->setMaximumWidth(260);
  cancelButton_ = new QPushButton(tr("Cancel"), messagePanel_);
  connect(cancelButton_, &QPushButton::clicked, this, &TMainFrm::OnCancel);
  row->addWidget(messageLabel_, 1);
  row->addWidget(progress_);
  row->addWidget(cancelButton_);
  messagePanel_->hide();
  centreLayout_->addWidget(messagePanel_);
}

void TMainFrm::BuildStatusBar() {
  const double scale = logicalDpiX() / 96.0;
  panel0_ = new QLabel(this);
  panel1_ = new QLabel(this);
  // The nominal width, or what the longest text needs in this font.
  panel1_->setFixedWidth(std::max(static_cast<int>(120 * scale), fontMetrics().horizontalAdvance("[Night] TST 00:00:00") + 8));
  panel2_ = new TStatusStatePnl(this);
  panel2_->setFixedWidth(static_cast<int>(240 * scale));
  panel3_ = new QLabel(this);
  panel3_->setFixedWidth(std::max(static_cast<int>(80 * scale), fontMetrics().horizontalAdvance("00:00:00") + 8));
  statusBar()->addWidget(panel0_, 1);
  statusBar()->addPermanentWidget(panel1_);
  statusBar()->addPermanentWidget(panel2_);
  statusBar()->addPermanentWidget(panel3_);
}

void TMainFrm::BuildModelMenu() {
  qDeleteAll(modelMenu_->findChildren<QActionGroup*>());
  modelMenu_->clear();
  models_ = TLidarModelList::Scan(app_.Config.ConfigFolder);
  auto* group = new QActionGroup(modelMenu_);
  for (const TLidarModel& model : models_) {
    auto* a = modelMenu_->addAction(Q(TLidarModelList::Caption(model)));
    a->setCheckable(true);
    a->setChecked(TLidarModelList::IsCurrent(model, app_.Config.ConfigFolder, app_.Config.CurrentInstrument));
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, model] { OnModel(model); });
  }
  if (models_.empty()) modelMenu_->addAction(tr("(no definition in %1)").arg(Q(app_.Config.ConfigFolder)))->setEnabled(false);
}

QString TMainFrm::PanelText(int panel) const {
  switch (panel) {
    case 0: return panel0_->text();
    case 1: return panel1_->text();
    case 2: return panel2_->Text();
    default: return panel3_->text();
  }
}

bool TMainFrm::MessagePanelVisible() const { return !messagePanel_->isHidden(); }

void TMainFrm::SetMessageTrace(TMessageTraceFrm* window) {
  messageTrace_ = window;
  Action("actMessageTrace")->setEnabled(window != nullptr);
}

void TMainFrm::SetAcquisitionAllowed(bool on) {
  acquisitionAllowed_ = on;
  UpdateModeControls();
}

void TMainFrm::StartUp() {
  if (started_) return;
  started_ = true;
  exportConfig_ = app_.Config.Export;
  commFrm_->SetLogFolder(app_.Config.LogFolder);
  Attach();
  const std::string geometry = app_.Store().ReadString(TGUIConfig::Section, GeometryKey, "");
  if (!geometry.empty()) restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry)));
  const std::string state = app_.Store().ReadString(TGUIConfig::Section, StateKey, "");
  if (!state.empty()) restoreState(QByteArray::fromBase64(QByteArray::fromStdString(state)));
  sleepGuard_ = std::make_unique<TSleepGuard>(Services().Sleep);
  if (Services().Loop) {
    timerLoop_ = Services().Loop;
    secTimer_ = timerLoop_->StartTimer(SecTimerMs, [this] { OnSecTimer(); });
  }
  if (app_.Config.AcquisitionMode && app_.Config.AutoConnect && app_.Source()) app_.Source()->Start();
  OnSecTimer();
}

void TMainFrm::CloseDown() {
  if (!started_) return;
  started_ = false;
  if (timerLoop_ && secTimer_) timerLoop_->StopTimer(secTimer_);
  timerLoop_ = nullptr;
  secTimer_ = 0;
  sleepGuard_.reset();
  Detach();
}

void TMainFrm::Attach() {
  TLidarManager* source = app_.Source();
  display_ = new TDisplayCtrl(source, app_.Config, gui_, &app_.Store(), centre_);
  centreLayout_->insertWidget(0, display_, 1);
  display_->SetShowProfile(Action("actShowProfile")->isChecked());
  ApplyLevels();
  qDeleteAll(paletteMenu_->findChildren<QActionGroup*>());
  paletteMenu_->clear();
  auto* group = new QActionGroup(paletteMenu_);
  for (const auto& entry : display_->Quicklook()->Palettes().Entries()) {
    auto* a = paletteMenu_->addAction(Q(entry.Name));
    a->setCheckable(true);
    a->setChecked(entry.Name == display_->Quicklook()->Palette().Name());
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, name = entry.Name] { display_->Quicklook()->SetPalette(name); });
  }
  additionalInfo_->Attach(source);
  if (statusFrm_) statusFrm_->Attach(source);
  if (source) {
    source->AddStatusConsumer(this, [this](TStatus* s, TState::ChangeRaison r) { OnStatusChange(s, r); }, 10);
    source->AddDataConsumer(this, [this](int, const uint8_t*, int, TDateTime) { ++records_; });
  }
  commFrm_->Attach(source);
  BuildModelMenu();
  UpdateModeControls();
  UpdateCommands();
  UpdateTitle();
}

void TMainFrm::Detach() {
  // The calibrations belong to this source: they end (and say so in the
  // stream) before it goes.
  if (TAFValidFrm::Instance()) TAFValidFrm::Instance()->close();
  if (TPolarCalibFrm::Instance()) TPolarCalibFrm::Instance()->close();
  commFrm_->Detach();
  additionalInfo_->Detach();
  if (statusFrm_) statusFrm_->Detach();
  if (TLidarManager* source = app_.Source()) {
    source->RemoveStatusConsumer(this);
    source->RemoveDataConsumer(this);
  }
  delete display_;
  display_ = nullptr;
}

void TMainFrm::UpdateModeControls() {
  const bool acquisition = app_.Config.AcquisitionMode;
  Action("actConnect")->setVisible(acquisition);
  // Live data is exported automatically, loaded files by hand.
  Action("actExport")->setVisible(acquisition);
  Action("actManualExport")->setVisible(!acquisition);
  Action("actAcquisitionMode")->setEnabled(!acquisition && acquisitionAllowed_);
  UpdateTitle();
}

void TMainFrm::UpdateTitle() {
  TLidarManager* source = app_.Source();
  setWindowTitle(Q(TMainFrmState::Title(app_.Config.AcquisitionMode, source ? source->GetSerialNumber() : "")));
}

void TMainFrm::UpdateCommands() {
  TLidarManager* source = app_.Source();
  if (!source) return;
  const TStatus& s = source->Status;
  QAction* power = Action("actPower");
  power->setChecked(TMainFrmState::Powered(s));
  power->setEnabled(TMainFrmState::Connected(s));
  Action("actConnect")->setChecked(s.ConnectState() >= TState::Connecting);
  const bool open = TMainFrmState::OpenAllowed(s) && messagePanel_->isHidden();
  Action("actOpen")->setEnabled(open);
  Action("actOpenButton")->setEnabled(open);
  Action("actAdd")->setEnabled(open && !app_.Config.AcquisitionMode);
  Action("actExport")->setChecked(app_.AutoExportWanted());
  auto* replay = dynamic_cast<TLidarReplay*>(source);
  Action("actManualExport")->setEnabled(open && replay && replay->FileCount() > 0);
}

void TMainFrm::OnStatusChange(TStatus* status, TState::ChangeRaison reason) {
  if (display_) display_->OnStatusChange(*status);
  if (reason & TState::Replay) {
    if (status->ReplayState() == TLidarReplay::ReplayDone) EndLoading();
    if (status->ReplayState() == TLidarReplay::ReplayLoadingFiles)
      if (auto* replay = dynamic_cast<TLidarReplay*>(app_.Source())) Log("Loading file " + replay->CurrentFileName());
  }
  UpdateCommands();
  UpdateTitle();
  RefreshPanels();
}

void TMainFrm::OnSecTimer() {
  if (sleepGuard_) sleepGuard_->Update(app_.Source() && TMainFrmState::Powered(app_.Source()->Status));
  RefreshPanels();
  // Channel and link states change without a notice of the source.
  if (statusFrm_ && statusFrm_->isVisible()) statusFrm_->Refresh();
  const uint64_t delta = records_ - recordsAtTick_;
  recordsAtTick_ = records_;
  panel2_->setToolTip(tr("%1 records in the last %2 ms").arg(delta).arg(SecTimerMs));
  if (!messagePanel_->isHidden())
    progress_->setValue(progress_->value() >= progress_->maximum() ? 0 : progress_->value() + 1);
  if (pausedNote_)
    pausedNote_ = false;  // the pause note stays until this tick
  else
    panel0_->setText(Q(TMainFrmState::ExportText(app_.AutoExporter() != nullptr,
                                                 app_.AutoExporter() ? app_.AutoExporter()->GetDescription() : "")));
}

void TMainFrm::RefreshPanels() {
  TLidarManager* source = app_.Source();
  const TDateTime now = Services().Clock->NowUTC();
  const QString time = Q(FormatDateTime(now, false).substr(11));
  panel3_->setText(time);
  if (source) {
    const int icon = TMainFrmState::StatusIcon(source->Status);
    const int second = static_cast<int>(DateTimeToUnix(now)) % 86400;
    panel2_->SetState(icon, TMainFrmState::IconShown(icon, second), Q(source->Status.Text));
  }
  panel1_->setText(Q(TSolarTime::At(now, app_.Config.Setup.LongitudeBase, app_.Config.Setup.LatitudeBase).Text()));
}

void TMainFrm::SetPaused(bool paused) {
  paused_ = paused;
  Action("actPause")->setChecked(paused);
  if (display_) display_->Quicklook()->SetAutoScroll(!paused);
  if (paused) {
    panel0_->setText(tr("Quicklook auto scrolling paused"));
    pausedNote_ = true;
  }
}

void TMainFrm::ApplyLevels() {
  int radio = TMainFrmState::Levels.back().Mask;
  if (QAction* checked = levelGroup_->checkedAction()) radio = checked->data().toInt();
  bool enabled = true;
  const int mask = TMainFrmState::LevelMask(radio, afterPulse_->isChecked(), enabled);
  afterPulse_->setEnabled(enabled);
  gui_.ProfileProcessing = mask;
  if (display_) display_->SetProcessing(mask, gui_.ProfileTime);
}

void TMainFrm::OnPower(bool on) {
  SetPaused(false);
  if (TLidarManager* source = app_.Source()) source->SetPower(on);
  if (on && app_.Config.AutoExport) app_.SetAutoExport(true);
  UpdateCommands();
}

void TMainFrm::OnExport(bool on) {
  TLidarManager* source = app_.Source();
  if (!source || !app_.Config.AcquisitionMode) return;
  if (on && source->Status.PowerState() < TState::WaitingPowerOn) OnPower(true);
  app_.SetAutoExport(on);
  UpdateCommands();
}

void TMainFrm::OnManualExport() {
  if (app_.Config.AcquisitionMode) return;
  TManualExportDlg dlg(exportConfig_, this);
  if (dlg.exec() != QDialog::Accepted) return;
  exportConfig_ = dlg.Settings();
  if (!ExportLoadedFiles(exportConfig_))
    QMessageBox::warning(this, tr("Skyvane"), tr("The export could not be started; the message log says why."));
}

bool TMainFrm::ExportLoadedFiles(const TExportConfig& settings) {
  auto* replay = dynamic_cast<TLidarReplay*>(app_.Source());
  if (!replay || app_.Config.AcquisitionMode || !display_) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  cancel_ = false;
  OrlaqExport::TExportSession session(settings, app_.Config, *replay);
  bool started = session.Start();
  if (started) {
    // The views keep what they show; only the export reads the files again.
    display_->SetUpdates(false);
    additionalInfo_->SetFrozen(true);
    replay->Rewind();
    started = replay->Start();
  }
  if (started) {
    SetControlsEnabled(false);
    ShowMessage(tr("Exporting data..."));
    std::string shown;
    // Read portion by portion, with the window handled between portions.
    while (!cancel_ && replay->Status.ReplayState() != TLidarReplay::ReplayDone) {
      const bool more = replay->OnIdle();
      QCoreApplication::processEvents();
      const std::string target = session.GetDescription();
      if (target != shown) {
        shown = target;
        messageLabel_->setText(tr("Exporting to ") + Q(target));
      }
      if (!more) break;
    }
  }
  if (display_) display_->SetUpdates(true);
  additionalInfo_->SetFrozen(false);
  EndLoading();
  return started;
}

void TMainFrm::OnConnect(bool on) {
  SetPaused(false);
  TLidarManager* source = app_.Source();
  if (!source || !app_.Config.AcquisitionMode) return;
  if (on && source->Status.ConnectState() < TState::Connecting) {
    source->Start();
  } else if (!on && source->Status.ConnectState() > TState::Disconnected) {
    ShutDownLaser();
    if (app_.Source()) app_.Source()->Stop();
  }
  UpdateCommands();
}

void TMainFrm::ShutDownLaser() {
  TLidarManager* source = app_.Source();
  if (!source || source->Status.PowerState() == TState::LaserOff) return;
  source->SetPower(false);
  QMessageBox wait(QMessageBox::Information, tr("Skyvane"), tr("Please wait while the software shutting down lidar"),
                   QMessageBox::NoButton, this);
  wait.setModal(false);
  wait.show();
  setEnabled(false);
  WaitForLaserOff(50);
  setEnabled(true);
}

void TMainFrm::WaitForLaserOff(int maxSteps) {
  for (int i = 0; i < maxSteps; ++i) {
    TLidarManager* source = app_.Source();
    if (!source || source->Status.PowerState() == TState::LaserOff) return;
    QEventLoop wait;
    QTimer::singleShot(100, &wait, &QEventLoop::quit);
    wait.exec();
  }
}

void TMainFrm::ShowMessage(const QString& text, const QString& cancelText) {
  messageLabel_->setText(text);
  cancelButton_->setText(cancelText.isEmpty() ? tr("Cancel") : cancelText);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  messagePanel_->show();
}

void TMainFrm::SetControlsEnabled(bool on) {
  menuBar()->setEnabled(on);
  toolbar_->setEnabled(on);
  if (display_) display_->setEnabled(on);
  setAcceptDrops(on);
}

void TMainFrm::EndLoading() {
  messagePanel_->hide();
  SetControlsEnabled(true);
  QApplication::restoreOverrideCursor();
  UpdateCommands();
}

void TMainFrm::OnOpen(bool add) {
  const QStringList files = QFileDialog::getOpenFileNames(
      this, add ? tr("Add recorded files") : tr("Open recorded files"), Q(app_.Config.DataFolder),
      tr("LIDAR files (*.skv2 *.lid);;Skyvane files only (*.skv2);;All the files (*.*)"));
  if (!files.isEmpty()) LoadFiles(files, add);
}

bool TMainFrm::LoadFiles(const QStringList& files, bool add) {
  SetControlsEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  cancel_ = false;
  ShowMessage(tr("Analysing files..."));
  progress_->setRange(0, static_cast<int>(files.size()));
  if (!add || app_.Config.AcquisitionMode) {
    if (!SwitchMode(false)) {
      EndLoading();
      return false;
    }
  }
  auto* replay = dynamic_cast<TLidarReplay*>(app_.Source());
  if (!replay) {
    EndLoading();
    return false;
  }
  if (add) {
    replay->ToEnd();
  } else {
    replay->ClearFiles();
    replay->Rewind();
  }
  bool refused = false;
  for (const QString& file : files) {
    if (cancel_) break;
    progress_->setValue(progress_->value() + 1);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (!replay->AddFile(file.toStdString())) {
      Log("Error in " + file.toStdString() + " file skipped...");
      refused = true;
    }
  }
  if (cancel_) return false;
  display_->Reset();
  additionalInfo_->Clear();
  if (!replay->Start()) {
    const QString why = Q(replay->RefusalReason().empty() ? std::string("No file could be replayed") : replay->RefusalReason());
    EndLoading();
    QMessageBox::warning(this, tr("Skyvane"), why);
    return false;
  }
  if (refused) Log("One or several file(s) is/are unreadable by the Skyvane software !");
  Log("Loading file " + replay->CurrentFileName());
  progress_->setRange(0, 20);
  progress_->setValue(0);
  return true;
}

void TMainFrm::OnCancel() {
  if (closing_) {
    forceClose_ = true;
    return;
  }
  cancel_ = true;
  messageLabel_->setText(tr("Canceling..."));
  if (TLidarManager* source = app_.Source()) source->Stop();
  QEventLoop wait;
  QTimer::singleShot(500, &wait, &QEventLoop::quit);
  wait.exec();
  EndLoading();
}

bool TMainFrm::SwitchMode(bool acquisition) {
  if (acquisition && !app_.Config.AcquisitionMode) {
    std::string why;
    if (!acquisitionAllowed_ || !app_.LockDataFolder(why)) {
      QMessageBox::warning(this, tr("Skyvane"),
                           why.empty() ? tr("This copy of the program runs as a reader only.") : Q(why));
      return false;
    }
  }
  // Leaving the instrument never leaves its laser on.
  if (app_.Config.AcquisitionMode) ShutDownLaser();
  Detach();
  app_.SaveConfig();
  app_.Exit();
  app_.Init(acquisition);
  Attach();
  if (acquisition && app_.Config.AutoConnect && app_.Source()) app_.Source()->Start();
  return true;
}

void TMainFrm::OnModel(const TLidarModel& model) {
  if (TLidarModelList::IsCurrent(model, app_.Config.ConfigFolder, app_.Config.CurrentInstrument)) return;
  app_.Config.CurrentInstrument = model.FileName;
  // A model named on the command line would otherwise win again at the restart.
  app_.Options.Model = model.FileName;
  app_.SaveConfig();
  const bool acquisition = app_.Config.AcquisitionMode;
  if (acquisition) ShutDownLaser();
  Detach();
  app_.Exit();
  app_.Init(acquisition);
  Attach();
  if (acquisition && app_.Config.AutoConnect && app_.Source()) app_.Source()->Start();
}

void TMainFrm::OnNote() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, tr("Note"), tr("Please give one line note :"), QLineEdit::Normal,
                                             QString(), &ok);
  if (ok && app_.Source()) app_.Source()->SendEvent(0, Services().Clock->NowUTC(), "USN", text.toStdString());
}

void TMainFrm::OnListUsb() {
  QMessageBox::information(this, tr("USB devices"), Q(TMainFrmState::UsbDeviceList(TFtdiUSB::GetFTDIList("", ""))));
}

void TMainFrm::OnCommStatus() {
  if (!statusFrm_) {
    statusFrm_ = new TStatusFrm(&app_.Store(), this);
    statusFrm_->Attach(app_.Source());
  }
  statusFrm_->ShowAndRaise();
}

void TMainFrm::OnModelInfo() {
  auto* text = new QPlainTextEdit(Q(TModelInformation::Text(app_.Config.LidarConfig)));
  text->setAttribute(Qt::WA_DeleteOnClose);
  text->setReadOnly(true);
  text->setWindowTitle(tr("Current Lidar Model Informations"));
  text->setFont(QFont("Monospace"));
  text->resize(560, 600);
  text->show();
}

void TMainFrm::SetProfileView(int levels, int profileTime) {
  gui_.ProfileTime = TMainFrmState::ClampProfileTime(profileTime);
  const int index = TMainFrmState::LevelIndex(levels);
  if (index >= 0) levelGroup_->actions().at(index)->setChecked(true);
  afterPulse_->setChecked((levels & TMainFrmState::AfterPulse.Mask) != 0);
  ApplyLevels();
}

void TMainFrm::OnAfterPulseCalib() {
  const bool wasOpen = TAFValidFrm::Instance() != nullptr;
  TAFValidFrm* dlg = TAFValidFrm::Open(app_.Source(), app_.Config, gui_.ProfileTime,
                                       [this](int levels, int seconds) { SetProfileView(levels, seconds); }, this);
  if (!wasOpen) connect(dlg, &TAFValidFrm::Closed, this, &TMainFrm::UpdateCalibrationMode);
  UpdateCalibrationMode();
}

void TMainFrm::OnPolarCalib() {
  const bool wasOpen = TPolarCalibFrm::Instance() != nullptr;
  TPolarCalibFrm* dlg = TPolarCalibFrm::Open(app_.Source(), gui_.ProfileTime,
                                             [this](int levels, int seconds) { SetProfileView(levels, seconds); }, this);
  if (!wasOpen) connect(dlg, &TPolarCalibFrm::Closed, this, &TMainFrm::UpdateCalibrationMode);
  UpdateCalibrationMode();
}

void TMainFrm::UpdateCalibrationMode() {
  if (display_) display_->SetCalibrationOpen(TAFValidFrm::Instance() || TPolarCalibFrm::Instance());
}

void TMainFrm::OnConfiguration(bool timeSpan) {
  TAppConfigFrm dlg(app_, gui_, this);
  if (timeSpan) dlg.ShowTimeSpan();
  if (dlg.exec() == QDialog::Accepted) ApplyDisplaySettings();
}

void TMainFrm::ApplyDisplaySettings() {
  Action("actRayleigh")->setChecked(gui_.ShowRayleighSlope);
  if (!display_) return;
  display_->ApplySettings();
  // A new profile time restarts the profile view's accumulation.
  if (display_->ProfileTime() != gui_.ProfileTime) ApplyLevels();
}

void TMainFrm::OnProperties() {
  TLidarSetupFrm dlg(app_.Config, this);
  if (dlg.exec() != QDialog::Accepted) return;
  app_.SaveConfig();
  // The site and attitude feed the altitude axis.
  ApplyLevels();
  if (display_) display_->Profiles()->Refresh();
  if (dlg.AfterPulseRequested())
    if (QAction* calibration = Action("actAfterPulseCalib"); calibration && calibration->isEnabled())
      calibration->trigger();
}

void TMainFrm::OnProfileTime() {
  bool ok = false;
  const int seconds = QInputDialog::getInt(this, tr("Integration time"), tr("Profile time (s, 0 = one shot):"),
                                           gui_.ProfileTime, 0, TMainFrmState::MaxProfileTime, 1, &ok);
  if (!ok) return;
  gui_.ProfileTime = TMainFrmState::ClampProfileTime(seconds);
  ApplyLevels();
}

bool TMainFrm::SaveQuicklookImage(const QString& path) {
  if (!display_) return false;
  const QSize size(std::max(display_->Quicklook()->width(), 1200),
                   std::max(display_->Quicklook()->height(), 300 * std::max(display_->Quicklook()->PanelCount(), 1)));
  return display_->Quicklook()->SavePng(path.toStdString(), size);
}

void TMainFrm::OnSaveQuicklook() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Save quicklook image"), Q(app_.Config.DataFolder),
                                                    tr("PNG images (*.png)"));
  if (path.isEmpty()) return;
  if (!SaveQuicklookImage(path.endsWith(".png", Qt::CaseInsensitive) ? path : path + ".png"))
    QMessageBox::warning(this, tr("Skyvane"), tr("The quicklook image could not be written to %1").arg(path));
}

void TMainFrm::CloseWithoutQuestion() {
  forceClose_ = true;
  close();
}

void TMainFrm::closeEvent(QCloseEvent* event) {
  TLidarManager* source = app_.Source();
  if (!forceClose_ && source && source->Status.PowerState() >= TState::WaitingPowerOn) {
    const auto answer = QMessageBox::question(
        this, tr("Skyvane"),
        tr("Lidar is currently powered or on the way.\nAre you sure you want to shutdown LiDAR and software, "
           "stopping acquisition ?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
      event->ignore();
      return;
    }
  }
  closing_ = true;
  if (source && source->Status.PowerState() != TState::LaserOff) {
    ShowMessage(tr("Shutting down..."), tr("Force close..."));
    source->SetPower(false);
    for (int i = 0; i < 50 && !forceClose_; ++i) {
      if (!app_.Source() || app_.Source()->Status.PowerState() == TState::LaserOff) break;
      WaitForLaserOff(1);
    }
  }
  hide();
  if (statusFrm_ && statusFrm_->isVisible()) statusFrm_->close();
  app_.Store().WriteString(TGUIConfig::Section, GeometryKey, saveGeometry().toBase64().toStdString());
  app_.Store().WriteString(TGUIConfig::Section, StateKey, saveState().toBase64().toStdString());
  gui_.Save(app_.Store());
  app_.Store().UpdateFile();
  event->accept();
}

void TMainFrm::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TMainFrm::dropEvent(QDropEvent* event) {
  QStringList files;
  for (const QUrl& url : event->mimeData()->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Ctrl adds to the loaded set; otherwise the drop replaces it.
  const bool add = event->modifiers().testFlag(Qt::ControlModifier);
  QTimer::singleShot(0, this, [this, files, add] { LoadFiles(files, add); });
}

void TMainFrm::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && display_) {
    TProfileDisplay& d = display_->Profiles()->Display();
    d.SetHold(!d.Hold());
    return;
  }
  QMainWindow::keyPressEvent(event);
}

}  // namespace OrlaqLidar
