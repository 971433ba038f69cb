#pragma once
// The quicklook time span: a list of usual spans that also takes a span
// typed by hand ("45", "3h"), shown normalised once accepted with Enter or
// by leaving the field; Escape puts back the last accepted span.
#include <QComboBox>

namespace OrlaqLidar {

class TTimeSpanCombo : public QComboBox {
  Q_OBJECT
 public:
  explicit TTimeSpanCombo(int minutes, QWidget* parent = nullptr);

  int Minutes() const { return minutes_; }
  void SetMinutes(int minutes);
  // Reads what was typed; text without a number keeps the last span.
  void Commit();

 protected:
  // The typed text lives in the line edit, which has the focus: its keys
  // and its leaving are watched there.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int minutes_ = 0;
};

}  // namespace OrlaqLidar
