#pragma once
// One channel's quicklook panel as a widget: paints the channel through
// TQuicklookPainter and turns the mouse into requests for its owner, the
// dragging of the colour ramp's thresholds and the zoom.
#include <QPoint>
#include <QTimer>
#include <QWidget>

#include "Display/ColourBarDrag.h"
#include "Display/PaletteContrast.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookPainter.h"

namespace OrlaqLidar {

class TQuicklookDisplayPnl : public QWidget {
  Q_OBJECT
 public:
  static constexpr int BlinkMs = 200;
  // A press that moves less than this is a click, not a zoom rectangle.
  static constexpr int DragPixels = 6;

  // Neither the channel nor the palette is owned; the palette is shared by
  // all panels and changed by dragging its thresholds on the colour bar.
  TQuicklookDisplayPnl(TQuicklookChannel* channel, TPaletteContrast* palette, QWidget* parent = nullptr);

  TQuicklookChannel* Channel() const { return channel_; }
  TQuicklookPaintOptions& Options() { return options_; }

  // The zoom to the part of the plot between two widget points (a
  // rectangle dragged rightwards), and back to the whole picture.
  void ZoomTo(const QPoint& from, const QPoint& to);
  void EndZoom();
  // The blinking "Z" shown while zoomed: its state now, and one blink.
  bool ZoomIndicatorShown() const { return channel_->Zoomed() && blinkOn_; }
  void Blink();

 signals:
  // Left click on the picture: the time and the distance in metres.
  void TimeClicked(double time, double metres);
  // Double click on the colour bar or its labels: open the manual scale box.
  void ColourScaleRequested(int channelId);
  // A threshold of the shared colour ramp was dragged.
  void PaletteChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  TColourBarDrag::TBar Bar() const;
  double UnixAt(double x) const;
  double KmAt(double y) const;

  TQuicklookChannel* channel_;
  TPaletteContrast* palette_;
  TQuicklookPaintOptions options_;
  TColourBarDrag barDrag_;
  bool pressed_ = false;
  QPoint pressPos_, dragPos_;
  QTimer blink_;
  bool blinkOn_ = true;
};

}  // namespace OrlaqLidar
