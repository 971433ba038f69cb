#include "Display/QuicklookDisplayPnl.h"

#include <QMouseEvent>
#include <QPainter>

namespace OrlaqLidar {

TQuicklookDisplayPnl::TQuicklookDisplayPnl(TQuicklookChannel* channel, const TPaletteContrast* palette, QWidget* parent)
    : QWidget(parent), channel_(channel), palette_(palette) {
  setMinimumSize(320, 160);
}

void TQuicklookDisplayPnl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  TQuicklookPainter::Paint(p, rect(), *channel_, *palette_, options_);
}

void TQuicklookDisplayPnl::mousePressEvent(QMouseEvent* event) {
  const QRect plot = TQuicklookPainter::PlotRect(rect());
  const QPointF pos = event->position();
  if (event->button() != Qt::LeftButton || !plot.contains(pos.toPoint())) return;
  const TTimeWindow w = channel_->Window();
  const double unix = static_cast<double>(w.Start) + (pos.x() - plot.left()) / plot.width() * w.Length();
  const double km = channel_->RangeMinKm() +
                    (plot.bottom() - pos.y()) / plot.height() * (channel_->RangeMaxKm() - channel_->RangeMinKm());
  emit TimeClicked(UnixToDateTime(unix), km * 1000.0);
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
