#include "Display/StatusStatePnl.h"

#include <QPainter>
#include <algorithm>

namespace OrlaqLidar {

TStatusStatePnl::TStatusStatePnl(QWidget* parent) : QWidget(parent) {}

void TStatusStatePnl::SetState(int icon, bool iconShown, const QString& text) {
  if (icon == icon_ && iconShown == shown_ && text == text_) return;
  icon_ = icon;
  shown_ = iconShown;
  text_ = text;
  update();
}

QSize TStatusStatePnl::sizeHint() const { return QSize(240, fontMetrics().height() + 4); }

void TStatusStatePnl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const int d = std::min(height() - 6, 12);
  const QRect dot(3, (height() - d) / 2, d, d);
  if (shown_) {
    static const QColor colours[] = {QColor(40, 170, 60), QColor(235, 160, 20), QColor(150, 150, 150)};
    p.setPen(QPen(colours[icon_ < 0 || icon_ > 2 ? 2 : icon_].darker(140), 1));
    p.setBrush(colours[icon_ < 0 || icon_ > 2 ? 2 : icon_]);
    p.drawEllipse(dot);
  }
  p.setPen(palette().color(QPalette::WindowText));
  p.drawText(rect().adjusted(dot.right() + 6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

}  // namespace OrlaqLidar
