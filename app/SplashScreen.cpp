#include "app/SplashScreen.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>

namespace OrlaqLidar {

TSplashScreen::TSplashScreen(const QString& version) : QSplashScreen(Picture(version)) {
  setAttribute(Qt::WA_DeleteOnClose, false);
}

QPixmap TSplashScreen::Picture(const QString& version) {
  constexpr int W = 480, H = 260;
  QPixmap pixmap(W, H);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // Night sky above a dark ground, a green beam going up into a thin layer.
  QLinearGradient sky(0, 0, 0, H);
  sky.setColorAt(0, QColor(8, 14, 40));
  sky.setColorAt(1, QColor(40, 60, 110));
  p.fillRect(pixmap.rect(), sky);
  p.fillRect(QRect(0, H - 30, W, 30), QColor(20, 24, 20));
  QLinearGradient beam(0, H - 30, 0, 0);
  beam.setColorAt(0, QColor(80, 255, 120, 220));
  beam.setColorAt(1, QColor(80, 255, 120, 0));
  p.fillRect(QRectF(W * 0.78, 0, 4, H - 30), beam);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 210, 230, 60));
  p.drawEllipse(QRectF(W * 0.55, 60, 170, 22));
  p.setBrush(QColor(90, 90, 100));
  p.drawRect(QRectF(W * 0.78 - 10, H - 44, 24, 16));

  p.setPen(Qt::white);
  QFont title = p.font();
  title.setPixelSize(44);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(28, 70, W - 56, 60), Qt::AlignLeft | Qt::AlignVCenter, "Skyvane");
  QFont text = p.font();
  text.setPixelSize(15);
  text.setBold(false);
  p.setFont(text);
  p.drawText(QRect(30, 130, W - 60, 24), Qt::AlignLeft, QObject::tr("Atmospheric lidar acquisition and viewing"));
  p.setPen(QColor(190, 200, 220));
  p.drawText(QRect(30, 156, W - 60, 24), Qt::AlignLeft,
             version.isEmpty() ? QString() : QObject::tr("Version %1").arg(version));
  p.end();
  return pixmap;
}

void TSplashScreen::ShowNow() {
  show();
  // Drawn before the main window's construction keeps the loop busy.
  repaint();
  QGuiApplication::processEvents();
  QTimer::singleShot(ShowMs, this, &QWidget::close);
}

}  // namespace OrlaqLidar
