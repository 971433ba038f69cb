#pragma once
// Draws one quicklook panel (picture, time and range axes, colour bar,
// channel title, date note, event marks) into any QPainter target: the
// panel widget, a saved picture, the daily pictures.
#include <QColor>
#include <QImage>
#include <QRect>
#include <string>

#include "Display/PaletteContrast.h"
#include "Display/QuicklookChannel.h"

class QPainter;

namespace OrlaqLidar {

struct TQuicklookPaintOptions {
  bool ShowEvents = true;
  bool ShowMinMaxLabels = true;
  bool ShowDate = true;
  std::string Title;  // empty: the channel's name
};

class TQuicklookPainter {
 public:
  static const QColor NoDataColour;

  static void Paint(QPainter& painter, const QRect& target, const TQuicklookChannel& channel,
                    const TPaletteContrast& palette, const TQuicklookPaintOptions& options = {});
  // The plot area Paint uses inside target.
  static QRect PlotRect(const QRect& target);
  static QRect ColourBarRect(const QRect& target);

  // The visible part of the picture at the plot's size, line 0 at the
  // bottom: each output pixel takes the highest colour index of the
  // picture lines it covers, so that thin layers survive the reduction.
  static QImage Picture(const TQuicklookChannel& channel, const TPaletteContrast& palette, const QSize& size);
};

}  // namespace OrlaqLidar
