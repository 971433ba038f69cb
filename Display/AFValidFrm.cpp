#include "Display/AFValidFrm.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "Config/ApplicationConfig.h"
#include "Display/CalibrationTime.h"
#include "Display/EditFieldGuard.h"
#include "Platform/Services.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

TAFValidFrm* TAFValidFrm::instance_ = nullptr;

namespace {
constexpr int MinTime = 10;
constexpr int MaxTime = 3600;
// Shots still to arrive and be dispatched after the integration time.
constexpr int FinishMarginSeconds = 5;

QString ItemText(const TChannelConfig& channel) {
  return QString("Channel%1 : %2").arg(channel.RecordID).arg(QString::fromStdString(channel.Name));
}
}  // namespace

TAFValidFrm* TAFValidFrm::Open(TLidarManager* source, TApplicationConfig& config, int profileTime,
                               TProfileViewSwitch switchView, QWidget* parent) {
  if (!instance_) instance_ = new TAFValidFrm(source, config, profileTime, std::move(switchView), parent);
  instance_->show();
  instance_->raise();
  instance_->activateWindow();
  return instance_;
}

TAFValidFrm::TAFValidFrm(TLidarManager* source, TApplicationConfig& config, int profileTime,
                         TProfileViewSwitch switchView, QWidget* parent)
    : QDialog(parent),
      source_(source),
      config_(config),
      switchView_(std::move(switchView)),
      calibration_(source, &config.LidarConfig, &config.Setup),
      events_(source, "SAP", "EAP") {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Use as After Pulse ");
  auto* layout = new QVBoxLayout(this);
  const bool replay = source_ && source_->IsReplay();
  operation_ = new QLabel(replay ? "Select integration time, click on Calibrate and select instant in QL"
                                 : "Select integration time and click on Calibrate",
                          this);
  operation_->setObjectName("operation");
  operation_->setWordWrap(true);
  layout->addWidget(operation_);

  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel("After Pulse profile integration time (s) : ", this));
  timeEdit_ = new QLineEdit(this);
  timeEdit_->setObjectName("integrationTime");
  row->addWidget(timeEdit_);
  layout->addLayout(row);
  error_ = new QLabel(this);
  error_->setObjectName("error");
  error_->setStyleSheet("color: #b00000;");
  layout->addWidget(error_);
  time_ = new TEditFieldGuard(timeEdit_, TFieldKind::Whole, profileTime, MinTime, MaxTime, error_);

  channels_ = new QListWidget(this);
  channels_->setObjectName("channels");
  layout->addWidget(channels_);
  result_ = new QLabel(this);
  result_->setObjectName("result");
  layout->addWidget(result_);

  auto* buttons = new QHBoxLayout;
  calibrate_ = new QPushButton("Calibrate", this);
  calibrate_->setObjectName("calibrate");
  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("ok");
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancel");
  buttons->addWidget(calibrate_);
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(calibrate_, &QPushButton::clicked, this, &TAFValidFrm::Calibrate);
  connect(ok_, &QPushButton::clicked, this, &TAFValidFrm::Validate);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);

  calibration_.OnResult = [this](int channel) { OnResult(channel); };
  FillChannels();
  ok_->setEnabled(false);
  channels_->setEnabled(false);
}

TAFValidFrm::~TAFValidFrm() { ShutDown(); }

QString TAFValidFrm::OperationText() const { return operation_->text(); }
QString TAFValidFrm::ResultText() const { return result_->text(); }

void TAFValidFrm::FillChannels() {
  for (const auto& channel : config_.LidarConfig.Channels) {
    if (channel->Type() != TChannelType::Lidar) continue;
    auto* item = new QListWidgetItem(ItemText(*channel), channels_);
    item->setData(Qt::UserRole, channel->RecordID);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
}

void TAFValidFrm::SetIdle(bool idle) {
  calibrate_->setEnabled(idle);
  timeEdit_->setEnabled(idle);
  ok_->setEnabled(idle);
  channels_->setEnabled(idle);
}

void TAFValidFrm::Calibrate() {
  if (!time_->Valid()) return;
  for (int i = 0; i < channels_->count(); ++i) channels_->item(i)->setCheckState(Qt::Unchecked);
  const int seconds = time_->IntValue();
  const bool replay = source_ && source_->IsReplay();
  if (!replay) {
    const TDateTime end = Services().Clock->NowUTC() + (seconds + FinishMarginSeconds) / SecondsPerDay;
    operation_->setText("Profile will finish at about " + ShortDateTimeText(end) + " UTC");
  }
  calibration_.Start(seconds);
  if (switchView_) switchView_(TAfterPulseCalibration::Levels, seconds);
  SetIdle(false);
  if (!replay) events_.Begin("");
}

void TAFValidFrm::OnResult(int channel) {
  QListWidgetItem* found = nullptr;
  for (int i = 0; i < channels_->count() && !found; ++i)
    if (channels_->item(i)->data(Qt::UserRole).toInt() == channel) found = channels_->item(i);
  if (!found) {
    const TChannelConfig* definition = config_.LidarConfig.FindChannel(channel);
    if (!definition || definition->Type() != TChannelType::Lidar) return;
    found = new QListWidgetItem(ItemText(*definition), channels_);
    found->setData(Qt::UserRole, channel);
    found->setFlags(found->flags() | Qt::ItemIsUserCheckable);
  }
  found->setCheckState(Qt::Checked);
  for (int i = 0; i < channels_->count(); ++i)
    if (channels_->item(i)->checkState() != Qt::Checked) return;

  SetIdle(true);
  calibration_.Detach();
  operation_->setText("Unselect channels for which current profile is not to be used as a new After Pulse file, then validate");
  result_->setText("Finished");
  events_.End("Finished");
}

void TAFValidFrm::Validate() {
  if (calibration_.Started()) {
    std::vector<int> kept;
    for (int i = 0; i < channels_->count(); ++i)
      if (channels_->item(i)->checkState() == Qt::Checked) kept.push_back(channels_->item(i)->data(Qt::UserRole).toInt());
    calibration_.Store(kept);
  }
  accept();
}

void TAFValidFrm::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  events_.End("Aborted");
  // The data manager leaves the source now: the window itself is deleted
  // later, possibly after the source has gone.
  calibration_.Stop();
  if (instance_ == this) instance_ = nullptr;
  emit Closed();
}

void TAFValidFrm::closeEvent(QCloseEvent* event) {
  ShutDown();
  QDialog::closeEvent(event);
}

void TAFValidFrm::done(int result) {
  ShutDown();
  QDialog::done(result);
}

}  // namespace OrlaqLidar
