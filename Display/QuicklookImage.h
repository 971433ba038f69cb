#pragma once
// The quicklook panels of several channels stacked into one picture, as
// saved by "Save quicklook image..." and the daily pictures.
#include <QImage>
#include <string>
#include <vector>

#include "Display/QuicklookPainter.h"

class QPainter;

namespace OrlaqLidar {

struct TQuicklookImage {
  // Panels one above the other, sharing the target's height.
  static void Render(QPainter& painter, const QRect& target, const std::vector<const TQuicklookChannel*>& channels,
                     const TPaletteContrast& palette, const TQuicklookPaintOptions& options = {});
  static QImage Render(const QSize& size, const std::vector<const TQuicklookChannel*>& channels,
                       const TPaletteContrast& palette, const TQuicklookPaintOptions& options = {});
  // Writes the PNG; false when it could not be written.
  static bool SavePng(const std::string& path, const QSize& size, const std::vector<const TQuicklookChannel*>& channels,
                      const TPaletteContrast& palette, const TQuicklookPaintOptions& options = {});
};

}  // namespace OrlaqLidar
