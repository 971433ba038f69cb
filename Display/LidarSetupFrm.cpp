#include "Display/LidarSetupFrm.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "Config/ApplicationConfig.h"
#include "Display/CalibrationUnzip.h"
#include "Display/EditFieldGuard.h"

namespace OrlaqLidar {

namespace {
// The calibration state images: 0 none, 1 looked for without values, 2 present.
QIcon StateIcon(int state) {
  static const QColor colours[3] = {QColor(200, 40, 40), QColor(230, 150, 20), QColor(40, 160, 60)};
  QPixmap pixmap(14, 14);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::darkGray);
  p.setBrush(colours[state >= 0 && state <= 2 ? state : 0]);
  p.drawEllipse(1, 1, 12, 12);
  return QIcon(pixmap);
}
const char* const StateNames[3] = {"missing", "not found", "loaded"};
}  // namespace

TLidarSetupFrm::TLidarSetupFrm(TApplicationConfig& config, QWidget* parent) : QDialog(parent), config_(config) {
  setWindowTitle(tr("Lidar Properties"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  auto* serialRow = new QFormLayout();
  auto* serial = new QLineEdit(QString::fromStdString(config.Setup.SerialNumber), this);
  serial->setObjectName("edSerialNumber");
  serial->setReadOnly(true);
  serialRow->addRow(tr("Lidar Serial Number"), serial);
  layout->addLayout(serialRow);
  error_ = new QLabel(this);
  error_->setObjectName("lblError");
  error_->setStyleSheet("color: #b00000;");
  auto* tabs = new QTabWidget(this);
  tabs->addTab(LocationPage(), tr("Localization / Attitude"));
  tabs->addTab(CalibrationPage(), tr("Calibration Status"));
  layout->addWidget(tabs, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("btnOk");
  connect(buttons, &QDialogButtonBox::accepted, this, &TLidarSetupFrm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(560, 460);
}

TEditFieldGuard* TLidarSetupFrm::Field(const char* name, double value, double minimum, double maximum, int digits,
                                       const QString& hint, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setToolTip(hint);
  auto* guard = new TEditFieldGuard(edit, TFieldKind::Decimal, value, minimum, maximum, error_);
  edit->setText(QString::number(value, 'g', digits));
  return guard;
}

QWidget* TLidarSetupFrm::LocationPage() {
  const TLidarSetup& s = config_.Setup;
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  auto* geo = new QGroupBox(tr("Geolocalization"), page);
  auto* geoForm = new QFormLayout(geo);
  altitude_ = Field("edAltitude", s.AltitudeBase, -200, 30000, 6, tr("Enter altitude in meter [-200...30000]"), geo);
  longitude_ = Field("edLongitude", s.LongitudeBase, -180, 180, 9,
                     QString::fromUtf8("Enter longitude in decimal degree i.e: -2.783123° (negative is east) "
                                       "[-180...+180]"),
                     geo);
  latitude_ = Field("edLatitude", s.LatitudeBase, -90, 90, 9,
                    QString::fromUtf8("Enter latitude in decimal degree i.e: 45.63713°(negative is south) [-90...+90]"),
                    geo);
  geoForm->addRow(tr("Altitude (m)"), altitude_->Edit());
  geoForm->addRow(QString::fromUtf8("Longitude (°)"), longitude_->Edit());
  geoForm->addRow(QString::fromUtf8("Latitude (°)"), latitude_->Edit());
  auto* attitude = new QGroupBox(tr("Attitude"), page);
  auto* attForm = new QFormLayout(attitude);
  pitch_ = Field("edPitch", s.PitchBase, -180, 180, 6,
                 tr("Enter angle (or pitch) in degree (zero is up, negative is rear) [-180...+180]"), attitude);
  roll_ = Field("edRoll", s.RollBase, -180, 180, 6,
                tr("Enter rolling in degree (zero is up, negative is left) [-180...+180]. Enter 0 if not used."),
                attitude);
  attForm->addRow(QString::fromUtf8("Angle/Pitch (°)"), pitch_->Edit());
  attForm->addRow(QString::fromUtf8("Roll (°)"), roll_->Edit());
  box->addWidget(geo);
  box->addWidget(attitude);
  box->addWidget(error_);
  box->addStretch(1);
  return page;
}

QWidget* TLidarSetupFrm::CalibrationPage() {
  auto* page = new QWidget(this);
  auto* box = new QVBoxLayout(page);
  calibrations_ = new QTableWidget(0, 5, page);
  calibrations_->setObjectName("lvCalibrations");
  calibrations_->setHorizontalHeaderLabels({tr("Channel"), tr("Detect."), tr("Overlap"), tr("AfterPulse"), tr("Info")});
  calibrations_->horizontalHeader()->setStretchLastSection(true);
  calibrations_->verticalHeader()->hide();
  calibrations_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  calibrations_->setSelectionMode(QAbstractItemView::NoSelection);
  box->addWidget(calibrations_, 1);

  explore_ = new QPushButton(tr("Explore calibrations folders ..."), page);
  explore_->setObjectName("btnExplore");
  connect(explore_, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(config_.Setup.CalibrationFolder)));
  });
  box->addWidget(explore_);
  useSerialFolder_ = new QCheckBox(tr("Use calibration folder by LiDAR Serial Number"), page);
  useSerialFolder_->setObjectName("cbUseSNCalFolder");
  useSerialFolder_->setChecked(config_.Setup.UseSNCalFolder);
  useEmbedded_ = new QCheckBox(tr("Reload .skv2 files using originals embedded calibration "), page);
  useEmbedded_->setObjectName("cbUseEmbeddedCalib");
  useEmbedded_->setChecked(config_.Setup.UseEmbeddedCalib);
  box->addWidget(useSerialFolder_);
  box->addWidget(useEmbedded_);

  auto* unzip = new QPushButton(tr("Unzip calibration in place ..."), page);
  unzip->setObjectName("btnUnzip");
  connect(unzip, &QPushButton::clicked, this, [this] {
    if (TCalibrationUnzip::Run(this, config_)) FillCalibrations();
  });
  auto* afterPulse = new QPushButton(tr("Perform After Pulse calibration..."), page);
  afterPulse->setObjectName("btnAfterPulse");
  connect(afterPulse, &QPushButton::clicked, this, [this] {
    afterPulse_ = true;
    accept();
    if (result() != QDialog::Accepted) afterPulse_ = false;
  });
  box->addWidget(unzip);
  box->addWidget(afterPulse);
  FillCalibrations();
  return page;
}

void TLidarSetupFrm::FillCalibrations() {
  calibrations_->setRowCount(0);
  for (const auto& channel : config_.LidarConfig.Channels) {
    if (!channel || channel->Type() != TChannelType::Lidar) continue;
    const TCalibration* cal = config_.Setup.FindCalibration(channel->RecordID);
    const int states[3] = {cal ? cal->ApdState : 0, cal ? cal->OverlapState : 0, cal ? cal->AfterPulseState : 0};
    const int row = calibrations_->rowCount();
    calibrations_->insertRow(row);
    calibrations_->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(channel->Name)));
    QStringList info;
    const char* const parts[3] = {"detector", "overlap", "afterpulse"};
    for (int i = 0; i < 3; ++i) {
      auto* item = new QTableWidgetItem(StateIcon(states[i]), QString());
      item->setData(Qt::UserRole, states[i]);
      item->setToolTip(tr(StateNames[states[i] >= 0 && states[i] <= 2 ? states[i] : 0]));
      calibrations_->setItem(row, i + 1, item);
      if (states[i] != 2) info << tr(parts[i]);
    }
    calibrations_->setItem(
        row, 4, new QTableWidgetItem(info.isEmpty() ? tr("calibrated") : tr("default values: %1").arg(info.join(", "))));
  }
  calibrations_->resizeColumnsToContents();
  explore_->setEnabled(!config_.Setup.CalibrationFolder.empty());
}

QString TLidarSetupFrm::ErrorText() const { return error_->text(); }

bool TLidarSetupFrm::Valid() {
  for (TEditFieldGuard* g : {altitude_, longitude_, latitude_, pitch_, roll_})
    if (!g->Valid()) return false;
  return true;
}

void TLidarSetupFrm::accept() {
  if (!Valid()) return;
  TLidarSetup& s = config_.Setup;
  s.UseSNCalFolder = useSerialFolder_->isChecked();
  s.UseEmbeddedCalib = useEmbedded_->isChecked();
  s.AltitudeBase = altitude_->Value();
  s.LongitudeBase = longitude_->Value();
  s.LatitudeBase = latitude_->Value();
  s.PitchBase = pitch_->Value();
  s.RollBase = roll_->Value();
  QDialog::accept();
}

}  // namespace OrlaqLidar

