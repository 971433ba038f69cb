#pragma once
// "Lidar Properties": position and attitude of the installed lidar, the
// state of its channel calibrations and where they come from. OK stores
// the values into the setup only when every field passes its check.
#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace OrlaqLidar {

class TApplicationConfig;
class TEditFieldGuard;

class TLidarSetupFrm : public QDialog {
  Q_OBJECT
 public:
  TLidarSetupFrm(TApplicationConfig& config, QWidget* parent = nullptr);

  // Closed through "Perform After Pulse calibration...": the caller runs
  // the calibration after storing.
  bool AfterPulseRequested() const { return afterPulse_; }
  QString ErrorText() const;

  void accept() override;

 private:
  QWidget* LocationPage();
  QWidget* CalibrationPage();
  TEditFieldGuard* Field(const char* name, double value, double minimum, double maximum, int digits,
                         const QString& hint, QWidget* parent);
  void FillCalibrations();
  bool Valid();

  TApplicationConfig& config_;
  QLabel* error_ = nullptr;
  TEditFieldGuard* altitude_;
  TEditFieldGuard* longitude_;
  TEditFieldGuard* latitude_;
  TEditFieldGuard* pitch_;
  TEditFieldGuard* roll_;
  QTableWidget* calibrations_;
  QPushButton* explore_;
  QCheckBox* useSerialFolder_;
  QCheckBox* useEmbedded_;
  bool afterPulse_ = false;
};

}  // namespace OrlaqLidar
