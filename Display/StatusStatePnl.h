#pragma once
// Status-bar panel 2: a state icon (ready, on the way and blinking, idle)
// and the acquisition source's status text.
#include <QWidget>

namespace OrlaqLidar {

class TStatusStatePnl : public QWidget {
  Q_OBJECT
 public:
  explicit TStatusStatePnl(QWidget* parent = nullptr);
  void SetState(int icon, bool iconShown, const QString& text);
  const QString& Text() const { return text_; }
  int Icon() const { return icon_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int icon_ = 2;
  bool shown_ = true;
  QString text_;
};

}  // namespace OrlaqLidar
