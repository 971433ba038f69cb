#pragma once
// The small panel of an axis's manual limits with its "Automatic" check
// box (profile counts axis, profile and quicklook distance axis).
#include <QDialog>

class QCheckBox;
class QDoubleSpinBox;

namespace OrlaqLidar {

class TAxisRangeDlg : public QDialog {
  Q_OBJECT
 public:
  TAxisRangeDlg(const QString& title, const QString& unit, double minimum, double maximum, bool automatic,
                QWidget* parent = nullptr);
  double Minimum() const;
  double Maximum() const;
  bool Automatic() const;

  // Opens the panel; true with the new values on OK.
  static bool Edit(QWidget* parent, const QString& title, const QString& unit, double& minimum, double& maximum,
                   bool& automatic);

 private:
  QDoubleSpinBox* min_;
  QDoubleSpinBox* max_;
  QCheckBox* automatic_;
};

}  // namespace OrlaqLidar
