#pragma once
// "Use as After Pulse ": measures one profile per lidar channel over the
// integration time the operator chooses and stores it, smoothed, as the
// afterpulse calibration of the channels the operator keeps. The start
// and the end of the measurement are marked in the data stream. In reader
// mode the profiles come from the instant the operator picks in the
// quicklook. At most one at a time; it frees itself when closed.
#include <QDialog>
#include <functional>
#include <memory>

#include "kernel/CalibrationEvents.h"
#include "kernel/processing/AfterPulseCalibration.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace OrlaqLidar {

class TApplicationConfig;
class TEditFieldGuard;
class TLidarManager;

class TAFValidFrm : public QDialog {
  Q_OBJECT
 public:
  // Switches the main window's profile view to these levels and profile time.
  using TProfileViewSwitch = std::function<void(int levels, int profileTime)>;

  // The open dialog, or null.
  static TAFValidFrm* Instance() { return instance_; }
  // Shows the open dialog, or makes one.
  static TAFValidFrm* Open(TLidarManager* source, TApplicationConfig& config, int profileTime,
                           TProfileViewSwitch switchView, QWidget* parent);

  ~TAFValidFrm() override;

  // The buttons' work, also run by tests.
  void Calibrate();
  void Validate();

  TAfterPulseCalibration& Calibration() { return calibration_; }
  QListWidget* ChannelList() const { return channels_; }
  QString OperationText() const;
  QString ResultText() const;

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 public slots:
  void done(int result) override;

 private:
  TAFValidFrm(TLidarManager* source, TApplicationConfig& config, int profileTime, TProfileViewSwitch switchView,
              QWidget* parent);
  void FillChannels();
  void OnResult(int channel);
  void SetIdle(bool idle);
  // Ends what the dialog started: the open event, the measurement.
  void ShutDown();

  static TAFValidFrm* instance_;

  TLidarManager* source_;
  TApplicationConfig& config_;
  TProfileViewSwitch switchView_;
  TAfterPulseCalibration calibration_;
  TCalibrationEvents events_;
  bool shutDown_ = false;

  QLabel* operation_;
  QLabel* result_;
  QLabel* error_;
  QLineEdit* timeEdit_;
  TEditFieldGuard* time_;
  QListWidget* channels_;
  QPushButton* calibrate_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace OrlaqLidar
