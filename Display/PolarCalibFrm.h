#pragma once
// "Polarization Calibration": times one profile of the chosen duration at
// the chosen half-wave-plate angle and brackets it with events, so that
// the calibration profile can be found later in the recorded files and in
// exports. Live acquisition only. At most one at a time; it frees itself
// when closed.
#include <QDialog>
#include <functional>

#include "Platform/MainLoop.h"
#include "kernel/CalibrationEvents.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace OrlaqLidar {

class TEditFieldGuard;
class TLidarManager;

class TPolarCalibFrm : public QDialog {
  Q_OBJECT
 public:
  // Every correction: the profile the view shows is the calibration's.
  static constexpr int Levels = 63;
  using TProfileViewSwitch = std::function<void(int levels, int profileTime)>;

  static TPolarCalibFrm* Instance() { return instance_; }
  static TPolarCalibFrm* Open(TLidarManager* source, int profileTime, TProfileViewSwitch switchView,
                              QWidget* parent);

  ~TPolarCalibFrm() override;

  // The buttons' work, also run by tests.
  void Calibrate();
  void CancelMeasure();
  bool Measuring() const { return timer_ != 0; }
  QString OperationText() const;
  QString ResultText() const;

 signals:
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;

 public slots:
  void done(int result) override;

 private:
  TPolarCalibFrm(TLidarManager* source, int profileTime, TProfileViewSwitch switchView, QWidget* parent);
  void EndMeasure(bool finished);
  void StopTimer();
  void ShutDown();

  static TPolarCalibFrm* instance_;

  TLidarManager* source_;
  TProfileViewSwitch switchView_;
  TCalibrationEvents events_;
  TMainLoop* loop_ = nullptr;
  TMainLoop::TTimerId timer_ = 0;
  bool shutDown_ = false;

  QLabel* operation_;
  QLabel* result_;
  QLabel* error_;
  QLineEdit* timeEdit_;
  QLineEdit* angleEdit_;
  TEditFieldGuard* time_;
  TEditFieldGuard* angle_;
  QPushButton* calibrate_;
  QPushButton* close_;
  QPushButton* cancel_;
};

}  // namespace OrlaqLidar
