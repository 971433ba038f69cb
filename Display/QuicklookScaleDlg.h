#pragma once
// The manual colour-scale box of a quicklook panel: the limits in the
// colour bar's unit and the "Manual scale" switch. OK keeps the box open
// with the refusal shown while the limits do not make a scale.
#include <QDialog>

#include "Display/QuicklookColorScale.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace OrlaqLidar {

class TEditFieldGuard;
class TQuicklookChannel;

class TQuicklookScaleDlg : public QDialog {
  Q_OBJECT
 public:
  // shownMax and shownMin (log units) fill the fields when the channel has
  // no manual limits yet, so that the operator starts from what is shown.
  TQuicklookScaleDlg(const TQuicklookColorScale& current, double shownMax, double shownMin,
                     QWidget* parent = nullptr);

  QLineEdit* MaxEdit() const { return max_; }
  QLineEdit* MinEdit() const { return min_; }
  QCheckBox* ManualBox() const { return manual_; }
  QString Refusal() const;
  // The accepted settings (the current ones until OK succeeds).
  const TQuicklookColorScale& Result() const { return scale_; }

  void accept() override;

  // Opens the box on the channel; on OK the channel takes the new settings
  // and its picture is drawn again. True when accepted.
  static bool Edit(QWidget* parent, TQuicklookChannel& channel);

 private:
  TQuicklookColorScale scale_;
  QLineEdit* max_;
  QLineEdit* min_;
  QCheckBox* manual_;
  QLabel* error_;
  TEditFieldGuard* maxGuard_;
  TEditFieldGuard* minGuard_;
};

}  // namespace OrlaqLidar
