#pragma once
// Ties a line edit to the common numeric check: the refusal shows in the
// dialog's error label while the operator types, and Valid() is what a
// dialog asks before it acts on the field.
#include <QObject>
#include <QString>

#include "Common/EditFieldChecker.h"

class QLabel;
class QLineEdit;

namespace OrlaqLidar {

class TEditFieldGuard : public QObject {
  Q_OBJECT
 public:
  TEditFieldGuard(QLineEdit* edit, TFieldKind kind, double initial, double minimum, double maximum,
                  QLabel* errorLabel);

  // Checks the field now; shows the refusal (or clears it) in the error label.
  bool Valid();
  double Value() const;
  int IntValue() const;
  void SetValue(double v);
  QLineEdit* Edit() const { return edit_; }

 private:
  void Show(const TFieldCheck& check);

  QLineEdit* edit_;
  QLabel* error_;
  TEditFieldChecker checker_;
};

}  // namespace OrlaqLidar
