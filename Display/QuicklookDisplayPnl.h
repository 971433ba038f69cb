#pragma once
// One channel's quicklook panel as a widget: paints the channel through
// TQuicklookPainter and turns clicks into requests for its owner.
#include <QWidget>

#include "Display/PaletteContrast.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookPainter.h"

namespace OrlaqLidar {

class TQuicklookDisplayPnl : public QWidget {
  Q_OBJECT
 public:
  // Neither the channel nor the palette is owned.
  TQuicklookDisplayPnl(TQuicklookChannel* channel, const TPaletteContrast* palette, QWidget* parent = nullptr);

  TQuicklookChannel* Channel() const { return channel_; }
  TQuicklookPaintOptions& Options() { return options_; }

 signals:
  // Left click on the picture: the time and the distance in metres.
  void TimeClicked(double time, double metres);
  // Double click on the colour bar or its labels: open the manual scale box.
  void ColourScaleRequested(int channelId);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  TQuicklookChannel* channel_;
  const TPaletteContrast* palette_;
  TQuicklookPaintOptions options_;
};

}  // namespace OrlaqLidar
