#include "Display/QuicklookDisplayPnl.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace OrlaqLidar {

TQuicklookDisplayPnl::TQuicklookDisplayPnl(TQuicklookChannel* channel, TPaletteContrast* palette, QWidget* parent)
    : QWidget(parent), channel_(channel), palette_(palette) {
  setMinimumSize(320, 160);
  // Hovering over a threshold of the colour bar shows that it can be dragged.
  setMouseTracking(true);
  blink_.setInterval(BlinkMs);
  connect(&blink_, &QTimer::timeout, this, &TQuicklookDisplayPnl::Blink);
}

TColourBarDrag::TBar TQuicklookDisplayPnl::Bar() const {
  const QRect bar = TQuicklookPainter::ColourBarRect(rect());
  return {bar.top(), bar.height()};
}

double TQuicklookDisplayPnl::UnixAt(double x) const {
  const QRect plot = TQuicklookPainter::PlotRect(rect());
  const TTimeWindow w = channel_->ViewWindow();
  return static_cast<double>(w.Start) + (x - plot.left()) / plot.width() * static_cast<double>(w.Length());
}

double TQuicklookDisplayPnl::KmAt(double y) const {
  const QRect plot = TQuicklookPainter::PlotRect(rect());
  return channel_->ViewMinKm() + (plot.bottom() - y) / plot.height() * (channel_->ViewMaxKm() - channel_->ViewMinKm());
}

void TQuicklookDisplayPnl::ZoomTo(const QPoint& from, const QPoint& to) {
  const QRect plot = TQuicklookPainter::PlotRect(rect());
  const QPoint a(std::clamp(from.x(), plot.left(), plot.right()), std::clamp(from.y(), plot.top(), plot.bottom()));
  const QPoint b(std::clamp(to.x(), plot.left(), plot.right()), std::clamp(to.y(), plot.top(), plot.bottom()));
  const TTimeWindow w{static_cast<int64_t>(UnixAt(std::min(a.x(), b.x()))),
                      static_cast<int64_t>(UnixAt(std::max(a.x(), b.x())))};
  channel_->Zoom(w, KmAt(std::max(a.y(), b.y())), KmAt(std::min(a.y(), b.y())));
  blinkOn_ = true;
  blink_.start();
  update();
}

void TQuicklookDisplayPnl::EndZoom() {
  blink_.stop();
  if (!channel_->Zoomed()) return;
  channel_->EndZoom();
  update();
}

void TQuicklookDisplayPnl::Blink() {
  if (!channel_->Zoomed()) {  // the zoom ended elsewhere (a reset)
    blink_.stop();
    blinkOn_ = true;
    return;
  }
  blinkOn_ = !blinkOn_;
  update();
}

void TQuicklookDisplayPnl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  TQuicklookPainter::Paint(p, rect(), *channel_, *palette_, options_);
  const QRect plot = TQuicklookPainter::PlotRect(rect());
  // Notches beside the colour bar where its thresholds can be grabbed.
  const QRect bar = TQuicklookPainter::ColourBarRect(rect());
  p.setPen(QColor(60, 60, 60));
  for (int k = 1; k < TPaletteContrast::Colours - 1; ++k) {
    const int y = static_cast<int>(std::lround(TColourBarDrag::PixelAt(Bar(), palette_->Threshold(k))));
    p.drawLine(bar.right() + 1, y, bar.right() + 4, y);
  }
  if (ZoomIndicatorShown()) {
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(16);
    p.setFont(f);
    p.setPen(QColor(200, 0, 0));
    p.drawText(QRect(plot.right() - 22, plot.top() + 2, 20, 20), Qt::AlignCenter, "Z");
  }
  if (pressed_ && (dragPos_ - pressPos_).manhattanLength() >= DragPixels) {
    p.setPen(QPen(Qt::black, 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(pressPos_, dragPos_).normalized().intersected(plot));
  }
}

void TQuicklookDisplayPnl::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (event->button() != Qt::LeftButton) return;
  const QRect bar = TQuicklookPainter::ColourBarRect(rect());
  if (bar.adjusted(-4, -4, 4, 4).contains(pos) && barDrag_.Press(*palette_, Bar(), pos.y())) return;
  if (!TQuicklookPainter::PlotRect(rect()).contains(pos)) return;
  pressed_ = true;
  pressPos_ = dragPos_ = pos;
}

void TQuicklookDisplayPnl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (barDrag_.Active()) {
    if (barDrag_.Move(*palette_, pos.y())) emit PaletteChanged();
    return;
  }
  if (pressed_) {
    dragPos_ = pos;
    update();
    return;
  }
  const QRect bar = TQuicklookPainter::ColourBarRect(rect());
  const bool overThreshold = bar.adjusted(-4, -4, 4, 4).contains(pos) &&
                             TColourBarDrag::ThresholdAt(*palette_, Bar(), pos.y()) >= 0;
  if (overThreshold)
    setCursor(Qt::SizeVerCursor);
  else
    unsetCursor();
}

void TQuicklookDisplayPnl::mouseReleaseEvent(QMouseEvent* event) {
  barDrag_.Release();
  if (!pressed_ || event->button() != Qt::LeftButton) return;
  pressed_ = false;
  const QPoint pos = event->position().toPoint();
  const QPoint d = pos - pressPos_;
  if (d.manhattanLength() < DragPixels) {
    emit TimeClicked(UnixToDateTime(UnixAt(pressPos_.x())), KmAt(pressPos_.y()) * 1000.0);
    return;
  }
  // Rightwards zooms in; leftwards goes back to the whole picture.
  if (d.x() > 0)
    ZoomTo(pressPos_, pos);
  else
    EndZoom();
  update();
}

void TQuicklookDisplayPnl::leaveEvent(QEvent*) {
  // Leaving the panel ends the zoom, so that a forgotten zoom never keeps
  // the picture frozen.
  if (!pressed_) EndZoom();
}

void TQuicklookDisplayPnl::mouseDoubleClickEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  const QRect bar = TQuicklookPainter::ColourBarRect(rect());
  if (bar.adjusted(-30, -20, 30, 20).contains(pos)) {
    emit ColourScaleRequested(channel_->ChannelId());
  } else if (TQuicklookPainter::PlotRect(rect()).contains(pos)) {
    // A fresh colour scale over what is visible now.
    channel_->Slices().Refresh();
    update();
  }
}

}  // namespace OrlaqLidar
