#include "Display/AppConfigFrm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "Config/GUIConfig.h"
#include "Display/AppConfigCheck.h"
#include "Display/EditFieldGuard.h"
#include "Display/ExportConfigPnl.h"
#include "Display/MainFrmState.h"
#include "Display/TimeSpanCombo.h"
#include "kernel/LidarApplication.h"

namespace OrlaqLidar {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
// Distances are stored in metres and edited in km.
constexpr double Km = 1000.0;
}  // namespace

TAppConfigFrm::TAppConfigFrm(TLidarApplication& app, TGUIConfig& gui, QWidget* parent)
    : QDialog(parent), app_(app), gui_(gui) {
  setWindowTitle(QString::fromUtf8("Configuration de l'application"));
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  error_ = new QLabel(this);
  error_->setObjectName("lblError");
  error_->setStyleSheet("color: #b00000;");
  error_->setWordWrap(true);
  tabs_->addTab(GeneralPage(), tr("General"));
  tabs_->addTab(GraphicsPage(), tr("Graphics"));
  tabs_->addTab(FoldersPage(), tr("Folders"));
  tabs_->addTab(ExportPage(), tr("Export"));
  tabs_->addTab(AirinsPage(), tr("Airins"));
  tabs_->addTab(DebugPage(), tr("Debug"));
  layout->addWidget(tabs_, 1);
  layout->addWidget(error_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOk");
  connect(buttons, &QDialogButtonBox::accepted, this, &TAppConfigFrm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(620, 560);
}

QCheckBox* TAppConfigFrm::Check(const char* name, const QString& caption, bool checked, QWidget* parent) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setChecked(checked);
  return box;
}

TEditFieldGuard* TAppConfigFrm::Field(const char* name, TFieldKind kind, double value, double minimum,
                                      double maximum, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  auto* guard = new TEditFieldGuard(edit, kind, value, minimum, maximum, error_);
  edit->setToolTip(tr("Between %1").arg(Q(TEditFieldChecker(kind, minimum, maximum).RangeText())));
  return guard;
}

QWidget* TAppConfigFrm::GeneralPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  autoPower_ = Check("cbAutoPower", tr("Automatically power on laser"), app_.Config.AutoPower, page);
  midLowEnd_ = Check("cbMidLowEndPC", tr("Lowered CPU/memory usage (lower graphic quality)"), gui_.MidLowEndPC, page);
  debugMode_ = Check("cbDebugMode", tr("Enable debug mode"), app_.Config.DebugMode, page);
  debugMode_->setToolTip(tr("Debugging functions; may reduce performance"));
  autoExport_ = Check("cbAutoExport", tr("Always export"), app_.Config.AutoExport, page);
  for (QWidget* w : {autoPower_, midLowEnd_, debugMode_, autoExport_}) box->addWidget(w);
  box->addStretch(1);
  return page;
}

QWidget* TAppConfigFrm::GraphicsPage() {
  graphics_ = new QWidget(this);
  auto* page = graphics_;
  auto* box = new QVBoxLayout(page);
  auto* top = new QFormLayout();
  profileTime_ = Field("edProfileTime", TFieldKind::Whole, gui_.ProfileTime, 0, TMainFrmState::MaxProfileTime, page);
  top->addRow(tr("Profile integration time (sec)"), profileTime_->Edit());
  hqProfile_ = Check("cbHQProfile", tr("Antialiased profile"), gui_.HQProfile && !gui_.MidLowEndPC, page);
  top->addRow(hqProfile_);
  // A weak machine never draws anti-aliased profiles.
  auto lowered = [this](bool on) {
    if (on) hqProfile_->setChecked(false);
    hqProfile_->setEnabled(!on);
  };
  connect(midLowEnd_, &QCheckBox::toggled, this, lowered);
  lowered(midLowEnd_->isChecked());
  box->addLayout(top);

  auto axisGroup = [this, page, box](const QString& title, const char* autoName, bool automatic, QCheckBox*& autoBox,
                                     const QString& minCaption, TEditFieldGuard* minimum, const QString& maxCaption,
                                     TEditFieldGuard* maximum) {
    auto* group = new QGroupBox(title, page);
    auto* form = new QFormLayout(group);
    autoBox = Check(autoName, tr("Autoscale"), automatic, group);
    form->addRow(autoBox);
    minimum->Edit()->setParent(group);
    maximum->Edit()->setParent(group);
    form->addRow(minCaption, minimum->Edit());
    form->addRow(maxCaption, maximum->Edit());
    auto manual = [minimum, maximum](bool on) {
      minimum->Edit()->setEnabled(!on);
      maximum->Edit()->setEnabled(!on);
    };
    connect(autoBox, &QCheckBox::toggled, this, manual);
    manual(automatic);
    box->addWidget(group);
  };
  minCount_ = Field("edMinCount", TFieldKind::Decimal, gui_.MinCount, -1e12, 1e12, page);
  maxCount_ = Field("edMaxCount", TFieldKind::Decimal, gui_.MaxCount, -1e12, 1e12, page);
  axisGroup(tr("Count/Values"), "cbAutCount", gui_.AutCount, autCount_, tr("Minimum "), minCount_, tr("Maximum "),
            maxCount_);
  minDist_ = Field("edMinDist", TFieldKind::Decimal, gui_.MinDist / Km, -1, 100, page);
  maxDist_ = Field("edMaxDist", TFieldKind::Decimal, gui_.MaxDist / Km, -1, 100, page);
  axisGroup(tr("Distance/Altitude"), "cbAutDist", gui_.AutDist, autDist_, tr("Minimum (km)"), minDist_,
            tr("Maximum (km)"), maxDist_);

  auto* bottom = new QFormLayout();
  timeSpan_ = new TTimeSpanCombo(gui_.QLTimeSpanMin, page);
  timeSpan_->setObjectName("cbQLTimeSpan");
  timeSpan_->setToolTip(tr("Pick a span or type one, i.e: 45 (minutes) or 3h"));
  bottom->addRow(tr("QuickLook time span"), timeSpan_);
  minMaxLabels_ = Check("cbShowQLMinMaxLabel", tr("Show labels for Min. and Max of color scale"),
                        gui_.ShowQLMinMaxLabel, page);
  bottom->addRow(minMaxLabels_);
  slope10_ = Field("edRaylSlope10", TFieldKind::Decimal, gui_.RaylSlope10, -1, 1, page);
  slope20_ = Field("edRaylSlope20", TFieldKind::Decimal, gui_.RaylSlope20, -1, 1, page);
  bottom->addRow(tr("Rayleigh slope between 0 and 10 km"), slope10_->Edit());
  bottom->addRow(tr("Rayleigh slope between 10 and 20 km"), slope20_->Edit());
  showRayleigh_ = Check("cbShowRayleighSlope", tr("Show Rayleigh slope"), gui_.ShowRayleighSlope, page);
  bottom->addRow(showRayleigh_);
  box->addLayout(bottom);
  box->addStretch(1);
  return page;
}

QWidget* TAppConfigFrm::FoldersPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  auto* form = new QFormLayout();
  const TLidarApplication::TFolders stored = app_.StoredFolders();
  const struct {
    const char* Name;
    QString Caption;
    std::string Value;
  } rows[4] = {{"edDataFolder", tr("Data"), stored.Data},
               {"edLogFolder", tr("Log"), stored.Log},
               {"edExportFolder", tr("Export"), stored.Export},
               {"edConfigFolder", tr("Definition"), stored.Config}};
  for (int i = 0; i < 4; ++i) {
    folders_[i] = new QLineEdit(Q(rows[i].Value), page);
    folders_[i]->setObjectName(rows[i].Name);
    auto* browse = new QPushButton(tr("..."), page);
    browse->setFixedWidth(32);
    QLineEdit* edit = folders_[i];
    const QString caption = rows[i].Caption;
    connect(browse, &QPushButton::clicked, this, [this, edit, caption] {
      const QString dir = QFileDialog::getExistingDirectory(this, caption, edit->text());
      if (!dir.isEmpty()) edit->setText(dir);
    });
    auto* row = new QHBoxLayout();
    row->addWidget(folders_[i], 1);
    row->addWidget(browse);
    form->addRow(rows[i].Caption, row);
  }
  box->addLayout(form);
  auto* note = new QLabel(tr("you need to restart the application to apply these changes"), page);
  note->setWordWrap(true);
  box->addWidget(note);
  box->addStretch(1);
  return page;
}

QWidget* TAppConfigFrm::ExportPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  auto* note = new QLabel(tr("Export parameters are used when starting the Export. If you currently exporting you "
                             "need stop and restart Export to use new parameters."),
                          page);
  note->setWordWrap(true);
  box->addWidget(note);
  export_ = new TExportConfigPnl(app_.Config.Export, error_, page);
  box->addWidget(export_);
  box->addStretch(1);
  return page;
}

QWidget* TAppConfigFrm::AirinsPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  auto* form = new QFormLayout();
  airinsAddr_ = new QLineEdit(Q(app_.Config.Setup.AirinsAddr), page);
  airinsAddr_->setObjectName("edAirinsAddr");
  form->addRow(tr("Airins IP Addr"), airinsAddr_);
  const double port = QString::fromStdString(app_.Config.Setup.AirinsPort).toDouble();
  airinsPort_ = Field("edAirinsPort", TFieldKind::Whole, port, 1, 65535, page);
  form->addRow(tr("Airins IP Port"), airinsPort_->Edit());
  // A stored port that is no number is shown as it is, and refused.
  airinsPort_->Edit()->setText(Q(app_.Config.Setup.AirinsPort));
  enableAirins_ = Check("cbEnableAirins", tr("Enable Airins"), app_.Config.EnableAirins, page);
  enableAirins_->setToolTip(tr("Takes effect at the next start"));
  form->addRow(enableAirins_);
  box->addLayout(form);
  box->addStretch(1);
  return page;
}

QWidget* TAppConfigFrm::DebugPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  autoConnect_ = Check("cbAutoConnect", tr("Enable Auto connect"), app_.Config.AutoConnect, page);
  // Outside debug mode the instrument is always connected at start.
  autoConnect_->setToolTip(tr("Only effective in debug mode"));
  auto debug = [this](bool on) { autoConnect_->setEnabled(on); };
  connect(debugMode_, &QCheckBox::toggled, this, debug);
  debug(debugMode_->isChecked());
  box->addWidget(autoConnect_);
  box->addStretch(1);
  return page;
}

void TAppConfigFrm::ShowTimeSpan() {
  tabs_->setCurrentWidget(graphics_);
  timeSpan_->setFocus();
}

QString TAppConfigFrm::ErrorText() const { return error_->text(); }

bool TAppConfigFrm::Shown(bool ok, QWidget* field) {
  if (ok) return true;
  for (int i = 0; i < tabs_->count(); ++i)
    if (tabs_->widget(i)->isAncestorOf(field)) tabs_->setCurrentIndex(i);
  if (field->focusPolicy() != Qt::NoFocus) field->setFocus();
  return false;
}

bool TAppConfigFrm::Valid() {
  error_->clear();
  timeSpan_->Commit();
  for (TEditFieldGuard* g : {profileTime_, slope10_, slope20_, airinsPort_})
    if (!Shown(g->Valid(), g->Edit())) return false;
  if (airinsAddr_->text().trimmed().isEmpty()) {
    error_->setText(tr("Please enter the address of the Airins server"));
    return Shown(false, airinsAddr_);
  }
  if (!Shown(export_->Valid(), export_)) return false;
  if (!autCount_->isChecked()) {
    if (!Shown(minCount_->Valid(), minCount_->Edit()) || !Shown(maxCount_->Valid(), maxCount_->Edit())) return false;
    const auto check = TAppConfigCheck::CheckValueAxis(minCount_->Value(), maxCount_->Value());
    if (!check.Ok) {
      error_->setText(Q(check.Refusal));
      return Shown(false, maxCount_->Edit());
    }
  }
  if (!autDist_->isChecked()) {
    if (!Shown(minDist_->Valid(), minDist_->Edit()) || !Shown(maxDist_->Valid(), maxDist_->Edit())) return false;
    const auto check = TAppConfigCheck::CheckDistanceAxis(minDist_->Value(), maxDist_->Value());
    if (!check.Ok) {
      if (check.CorrectedMax) maxDist_->SetValue(*check.CorrectedMax);
      error_->setText(Q(check.Refusal));
      return Shown(false, maxDist_->Edit());
    }
  }
  return true;
}

void TAppConfigFrm::Store() {
  TApplicationConfig& c = app_.Config;
  // Values this run may override are set only when the operator changed them.
  if (autoPower_->isChecked() != c.AutoPower) app_.SetAutoPower(autoPower_->isChecked());
  const std::string addr = airinsAddr_->text().trimmed().toStdString();
  const std::string port = std::to_string(airinsPort_->IntValue());
  if (addr != c.Setup.AirinsAddr || port != c.Setup.AirinsPort) app_.SetInsAddress(addr, port);
  c.DebugMode = debugMode_->isChecked();
  c.FullRange = c.FullRange && c.DebugMode;
  c.AutoConnect = autoConnect_->isChecked() || !c.DebugMode;
  c.AutoExport = autoExport_->isChecked();
  c.EnableAirins = enableAirins_->isChecked();
  export_->Store(c.Export);

  gui_.MidLowEndPC = midLowEnd_->isChecked();
  gui_.HQProfile = hqProfile_->isChecked() && !gui_.MidLowEndPC;
  gui_.ProfileTime = profileTime_->IntValue();
  gui_.AutCount = autCount_->isChecked();
  if (!gui_.AutCount) {
    gui_.MinCount = minCount_->Value();
    gui_.MaxCount = maxCount_->Value();
  }
  gui_.AutDist = autDist_->isChecked();
  if (!gui_.AutDist) {
    gui_.MinDist = minDist_->Value() * Km;
    gui_.MaxDist = maxDist_->Value() * Km;
  }
  gui_.QLTimeSpanMin = timeSpan_->Minutes();
  gui_.ShowQLMinMaxLabel = minMaxLabels_->isChecked();
  gui_.RaylSlope10 = slope10_->Value();
  gui_.RaylSlope20 = slope20_->Value();
  gui_.ShowRayleighSlope = showRayleigh_->isChecked();

  app_.SetFolders(folders_[0]->text().trimmed().toStdString(), folders_[2]->text().trimmed().toStdString(),
                  folders_[3]->text().trimmed().toStdString(), folders_[1]->text().trimmed().toStdString());
  app_.SaveConfig();
  gui_.Save(app_.Store());
}

void TAppConfigFrm::accept() {
  if (!Valid()) return;
  Store();
  QDialog::accept();
}

}  // namespace OrlaqLidar
