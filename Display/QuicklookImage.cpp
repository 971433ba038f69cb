#include "Display/QuicklookImage.h"

#include <QPainter>

namespace OrlaqLidar {

void TQuicklookImage::Render(QPainter& painter, const QRect& target,
                             const std::vector<const TQuicklookChannel*>& channels, const TPaletteContrast& palette,
                             const TQuicklookPaintOptions& options) {
  if (channels.empty()) return;
  const int n = static_cast<int>(channels.size());
  for (int i = 0; i < n; ++i) {
    const int top = target.top() + target.height() * i / n;
    const int bottom = target.top() + target.height() * (i + 1) / n;
    TQuicklookPainter::Paint(painter, QRect(target.left(), top, target.width(), bottom - top), *channels[i], palette,
                             options);
  }
}

QImage TQuicklookImage::Render(const QSize& size, const std::vector<const TQuicklookChannel*>& channels,
                               const TPaletteContrast& palette, const TQuicklookPaintOptions& options) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::white);
  QPainter painter(&image);
  Render(painter, image.rect(), channels, palette, options);
  painter.end();
  return image;
}

bool TQuicklookImage::SavePng(const std::string& path, const QSize& size,
                              const std::vector<const TQuicklookChannel*>& channels, const TPaletteContrast& palette,
                              const TQuicklookPaintOptions& options) {
  return Render(size, channels, palette, options).save(QString::fromStdString(path), "PNG");
}

}  // namespace OrlaqLidar
