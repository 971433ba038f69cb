#include "Display/EditFieldGuard.h"

#include <QLabel>
#include <QLineEdit>
#include <cmath>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

TEditFieldGuard::TEditFieldGuard(QLineEdit* edit, TFieldKind kind, double initial, double minimum, double maximum,
                                 QLabel* errorLabel)
    : QObject(edit), edit_(edit), error_(errorLabel), checker_(kind, minimum, maximum) {
  SetValue(initial);
  connect(edit_, &QLineEdit::textEdited, this, [this] { Show(checker_.Check(edit_->text().toStdString())); });
}

void TEditFieldGuard::SetValue(double v) {
  edit_->setText(checker_.Kind() == TFieldKind::Whole ? QString::number(std::llround(v))
                                                       : QString::fromStdString(FormatFloat(v)));
  Show(checker_.Check(edit_->text().toStdString()));
}

void TEditFieldGuard::Show(const TFieldCheck& check) {
  edit_->setStyleSheet(check.Ok ? QString() : QStringLiteral("background-color: #ffd0d0;"));
  if (!error_) return;
  // Only the field that refused clears its own text, so that two fields
  // sharing one label do not wipe each other's refusal.
  if (!check.Ok) {
    error_->setText(QString::fromStdString(check.Refusal));
    error_->setProperty("guard", QVariant::fromValue<QObject*>(this));
  } else if (error_->property("guard").value<QObject*>() == this) {
    error_->clear();
    error_->setProperty("guard", QVariant::fromValue<QObject*>(nullptr));
  }
}

bool TEditFieldGuard::Valid() {
  auto check = checker_.Check(edit_->text().toStdString());
  Show(check);
  if (!check.Ok) edit_->setFocus();
  return check.Ok;
}

double TEditFieldGuard::Value() const {
  auto check = checker_.Check(edit_->text().toStdString());
  return check.Ok ? check.Value : std::nan("");
}

int TEditFieldGuard::IntValue() const {
  double v = Value();
  return std::isfinite(v) ? static_cast<int>(std::llround(v)) : 0;
}

}  // namespace OrlaqLidar
