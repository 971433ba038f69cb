#include "Display/QuicklookScaleDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "Display/EditFieldGuard.h"
#include "Display/QuicklookChannel.h"

namespace OrlaqLidar {

namespace {
// Far beyond any signal; only keeps the field check's range finite.
constexpr double MaxLabelValue = 1e30;

double Usable(double logValue, double fallback) {
  return std::isfinite(logValue) && std::abs(logValue) < 1e10 ? TQuicklookColorScale::FromLog(logValue) : fallback;
}
}  // namespace

TQuicklookScaleDlg::TQuicklookScaleDlg(const TQuicklookColorScale& current, double shownMax, double shownMin,
                                       QWidget* parent)
    : QDialog(parent), scale_(current) {
  setWindowTitle(QString::fromUtf8(" Color Scale (km².Ph/s)"));
  auto* form = new QFormLayout(this);
  max_ = new QLineEdit(this);
  min_ = new QLineEdit(this);
  manual_ = new QCheckBox(tr("Manual scale"), this);
  manual_->setChecked(current.Manual);
  error_ = new QLabel(this);
  error_->setStyleSheet("color: #b00000;");
  error_->setWordWrap(true);
  const double shownMaxValue = Usable(shownMax, 1000), shownMinValue = Usable(shownMin, 1);
  maxGuard_ = new TEditFieldGuard(max_, TFieldKind::Decimal, Usable(current.Max, shownMaxValue), 0, MaxLabelValue,
                                  error_);
  minGuard_ = new TEditFieldGuard(min_, TFieldKind::Decimal, Usable(current.Min, shownMinValue), 0, MaxLabelValue,
                                  error_);
  form->addRow(tr("Max scale"), max_);
  form->addRow(tr("Min scale"), min_);
  form->addRow(manual_);
  form->addRow(error_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TQuicklookScaleDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

QString TQuicklookScaleDlg::Refusal() const { return error_->text(); }

void TQuicklookScaleDlg::accept() {
  if (!maxGuard_->Valid() || !minGuard_->Valid()) return;
  TQuicklookColorScale next = scale_;
  if (const auto refusal = next.Accept(max_->text().toStdString(), min_->text().toStdString(), manual_->isChecked())) {
    error_->setText(QString::fromStdString(*refusal));
    return;
  }
  scale_ = next;
  QDialog::accept();
}

bool TQuicklookScaleDlg::Edit(QWidget* parent, TQuicklookChannel& channel) {
  TQuicklookScaleDlg dlg(channel.ColorScale(), channel.Slices().ScaleMax(), channel.Slices().ScaleMin(), parent);
  if (dlg.exec() != QDialog::Accepted) return false;
  channel.SetColorScale(dlg.Result());
  return true;
}

}  // namespace OrlaqLidar
