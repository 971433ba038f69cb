#include "Display/AxisRangeDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QPushButton>

namespace OrlaqLidar {

TAxisRangeDlg::TAxisRangeDlg(const QString& title, const QString& unit, double minimum, double maximum,
                             bool automatic, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(title);
  auto* form = new QFormLayout(this);
  auto spin = [this](double v) {
    auto* s = new QDoubleSpinBox(this);
    s->setRange(-1e12, 1e12);
    s->setDecimals(3);
    s->setValue(v);
    return s;
  };
  min_ = spin(minimum);
  max_ = spin(maximum);
  automatic_ = new QCheckBox(tr("Automatic"), this);
  automatic_->setChecked(automatic);
  form->addRow(tr("Minimum %1").arg(unit), min_);
  form->addRow(tr("Maximum %1").arg(unit), max_);
  form->addRow(automatic_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  // Manual limits must make an axis.
  auto check = [this, buttons] {
    buttons->button(QDialogButtonBox::Ok)->setEnabled(automatic_->isChecked() || max_->value() > min_->value());
    min_->setEnabled(!automatic_->isChecked());
    max_->setEnabled(!automatic_->isChecked());
  };
  connect(min_, &QDoubleSpinBox::valueChanged, this, check);
  connect(max_, &QDoubleSpinBox::valueChanged, this, check);
  connect(automatic_, &QCheckBox::toggled, this, check);
  check();
}

double TAxisRangeDlg::Minimum() const { return min_->value(); }
double TAxisRangeDlg::Maximum() const { return max_->value(); }
bool TAxisRangeDlg::Automatic() const { return automatic_->isChecked(); }

bool TAxisRangeDlg::Edit(QWidget* parent, const QString& title, const QString& unit, double& minimum, double& maximum,
                         bool& automatic) {
  TAxisRangeDlg dlg(title, unit, minimum, maximum, automatic, parent);
  if (dlg.exec() != QDialog::Accepted) return false;
  minimum = dlg.Minimum();
  maximum = dlg.Maximum();
  automatic = dlg.Automatic();
  return true;
}

}  // namespace OrlaqLidar
