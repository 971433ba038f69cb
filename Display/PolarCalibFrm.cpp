#include "Display/PolarCalibFrm.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "Common/StringUtils.h"
#include "Display/CalibrationTime.h"
#include "Display/EditFieldGuard.h"
#include "Platform/Services.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

TPolarCalibFrm* TPolarCalibFrm::instance_ = nullptr;

namespace {
constexpr int MinTime = 10;
constexpr int MaxTime = 3600;
constexpr double MinAngle = -50;
constexpr double MaxAngle = 100;
constexpr double InitialAngle = 0;
}  // namespace

TPolarCalibFrm* TPolarCalibFrm::Open(TLidarManager* source, int profileTime, TProfileViewSwitch switchView,
                                     QWidget* parent) {
  if (!instance_) instance_ = new TPolarCalibFrm(source, profileTime, std::move(switchView), parent);
  instance_->show();
  instance_->raise();
  instance_->activateWindow();
  return instance_;
}

TPolarCalibFrm::TPolarCalibFrm(TLidarManager* source, int profileTime, TProfileViewSwitch switchView,
                               QWidget* parent)
    : QDialog(parent), source_(source), switchView_(std::move(switchView)), events_(source, "SPL", "EPL") {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Polarization Calibration");
  auto* layout = new QVBoxLayout(this);
  operation_ = new QLabel("Select integration time and angle then click on Calibrate.", this);
  operation_->setObjectName("operation");
  operation_->setWordWrap(true);
  layout->addWidget(operation_);

  auto* form = new QFormLayout;
  timeEdit_ = new QLineEdit(this);
  timeEdit_->setObjectName("integrationTime");
  angleEdit_ = new QLineEdit(this);
  angleEdit_->setObjectName("angle");
  form->addRow("Profile integration time (s) : ", timeEdit_);
  form->addRow(QString::fromUtf8("Half Wave plate angle (\u00b0) : "), angleEdit_);
  layout->addLayout(form);
  error_ = new QLabel(this);
  error_->setObjectName("error");
  error_->setStyleSheet("color: #b00000;");
  layout->addWidget(error_);
  time_ = new TEditFieldGuard(timeEdit_, TFieldKind::Whole, profileTime, MinTime, MaxTime, error_);
  angle_ = new TEditFieldGuard(angleEdit_, TFieldKind::Decimal, InitialAngle, MinAngle, MaxAngle, error_);
  result_ = new QLabel(this);
  result_->setObjectName("result");
  result_->setWordWrap(true);
  layout->addWidget(result_);

  auto* buttons = new QHBoxLayout;
  calibrate_ = new QPushButton("Calibrate", this);
  calibrate_->setObjectName("calibrate");
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("cancel");
  close_ = new QPushButton("Close", this);
  close_->setObjectName("close");
  buttons->addWidget(calibrate_);
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);
  connect(calibrate_, &QPushButton::clicked, this, &TPolarCalibFrm::Calibrate);
  connect(cancel_, &QPushButton::clicked, this, &TPolarCalibFrm::CancelMeasure);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  cancel_->setEnabled(false);

  if (!source_ || source_->IsReplay()) {
    // The angle is set on the instrument: there is nothing to time in a replay.
    operation_->setText("Can't be done in replay mode");
    calibrate_->setEnabled(false);
    timeEdit_->setEnabled(false);
    angleEdit_->setEnabled(false);
  }
}

TPolarCalibFrm::~TPolarCalibFrm() { ShutDown(); }

QString TPolarCalibFrm::OperationText() const { return operation_->text(); }
QString TPolarCalibFrm::ResultText() const { return result_->text(); }

void TPolarCalibFrm::Calibrate() {
  if (!source_ || source_->IsReplay() || Measuring()) return;
  const bool timeOk = time_->Valid();
  if (!timeOk || !angle_->Valid()) return;
  const int seconds = time_->IntValue();
  const double angle = angle_->Value();
  const TDateTime end = Services().Clock->NowUTC() + (seconds + 1) / SecondsPerDay;
  operation_->setText("Profile will finish at " + ShortDateTimeText(end) + "UTC");
  if (switchView_) switchView_(Levels, seconds);
  calibrate_->setEnabled(false);
  timeEdit_->setEnabled(false);
  angleEdit_->setEnabled(false);
  close_->setEnabled(false);
  cancel_->setEnabled(true);
  events_.Begin(FormatFloat(angle));
  loop_ = Services().Loop;
  if (loop_) timer_ = loop_->StartTimer(seconds * 1000, [this] { EndMeasure(true); });
}

void TPolarCalibFrm::CancelMeasure() {
  if (Measuring()) EndMeasure(false);
}

void TPolarCalibFrm::StopTimer() {
  if (loop_ && timer_) loop_->StopTimer(timer_);
  timer_ = 0;
}

void TPolarCalibFrm::EndMeasure(bool finished) {
  StopTimer();
  cancel_->setEnabled(false);
  close_->setEnabled(true);
  calibrate_->setEnabled(true);
  timeEdit_->setEnabled(true);
  angleEdit_->setEnabled(true);
  operation_->setText(finished ? "Finished" : "Aborted");
  events_.End(finished ? "Finished" : "Aborted");
  result_->setText(finished ? "Profile finished, you could perform a new profile or close this windows"
                            : "Profile aborted by user");
}

void TPolarCalibFrm::ShutDown() {
  if (shutDown_) return;
  shutDown_ = true;
  StopTimer();
  events_.End("Close");
  if (instance_ == this) instance_ = nullptr;
  emit Closed();
}

void TPolarCalibFrm::closeEvent(QCloseEvent* event) {
  ShutDown();
  QDialog::closeEvent(event);
}

void TPolarCalibFrm::done(int result) {
  ShutDown();
  QDialog::done(result);
}

}  // namespace OrlaqLidar
