#include "Display/QuicklookPainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

#include "Common/DateTime.h"

namespace OrlaqLidar {

const QColor TQuicklookPainter::NoDataColour(255, 255, 255);

namespace {

constexpr int kLeft = 56, kRight = 86, kTop = 24, kBottom = 36, kBarWidth = 16;

QString TimeLabel(int64_t unixSeconds) {
  const TDateTimeParts p = DecodeDateTime(UnixToDateTime(static_cast<double>(unixSeconds)));
  return QString::asprintf("%02d:%02d", p.Hour, p.Minute);
}

QString DateText(int64_t unixSeconds) {
  const TDateTimeParts p = DecodeDateTime(UnixToDateTime(static_cast<double>(unixSeconds)));
  return QString::asprintf("%04d-%02d-%02d", p.Year, p.Month, p.Day);
}

}  // namespace

QRect TQuicklookPainter::PlotRect(const QRect& t) {
  return QRect(t.left() + kLeft, t.top() + kTop, std::max(t.width() - kLeft - kRight, 1),
               std::max(t.height() - kTop - kBottom, 1));
}

QRect TQuicklookPainter::ColourBarRect(const QRect& t) {
  const QRect plot = PlotRect(t);
  return QRect(plot.right() + 12, plot.top() + 14, kBarWidth, std::max(plot.height() - 28, 1));
}

QImage TQuicklookPainter::Picture(const TQuicklookChannel& channel, const TPaletteContrast& palette, const QSize& size) {
  const int W = std::max(size.width(), 1), H = std::max(size.height(), 1);
  QImage out(W, H, QImage::Format_ARGB32_Premultiplied);
  const TProfileSliceList& slices = channel.Slices();
  const TScrolledBitmap& bitmap = slices.Bitmap();
  const int step = slices.Step();
  const TTimeWindow window = channel.ViewWindow();
  const int64_t colStart = window.Start / step - slices.FirstVisibleColumn();
  const int colCount = static_cast<int>(std::max<int64_t>(window.Length() / step, 1));
  const int rows = bitmap.Rows();
  // Picture lines shown: all of them, or those of a zoomed range.
  int rowLo = 0, rowCount = rows;
  if (channel.Zoomed()) {
    const double lo = TQuicklookAxes::RowOf(channel.ViewMinKm(), channel.GateTime(), channel.OffsetTime());
    const double hi = TQuicklookAxes::RowOf(channel.ViewMaxKm(), channel.GateTime(), channel.OffsetTime());
    // The zoom keeps whole rows.
    rowLo = static_cast<int>(std::clamp(std::round(lo), 0.0, static_cast<double>(rows - 1)));
    rowCount = std::max(static_cast<int>(std::clamp(std::round(hi), 0.0, static_cast<double>(rows))) - rowLo, 1);
  }

  // Source column range of each output pixel, clamped to the picture.
  std::vector<int> c0(W), c1(W);
  for (int x = 0; x < W; ++x) {
    const int64_t a = colStart + static_cast<int64_t>(x) * colCount / W;
    const int64_t b = std::max(a + 1, colStart + static_cast<int64_t>(x + 1) * colCount / W);
    c0[x] = static_cast<int>(std::clamp<int64_t>(a, 0, bitmap.Width()));
    c1[x] = static_cast<int>(std::clamp<int64_t>(b, 0, bitmap.Width()));
  }
  const int lo = std::clamp<int>(static_cast<int>(colStart), 0, bitmap.Width());
  const int hi = std::clamp<int>(static_cast<int>(colStart + colCount + 1), 0, bitmap.Width());
  std::vector<uint8_t> reduced(static_cast<size_t>(bitmap.Width()), 0);
  const auto& table = palette.Table();
  for (int y = 0; y < H; ++y) {
    const int yb = H - 1 - y;  // line 0 of the picture at the bottom
    const int r0 = rowLo + static_cast<int>(static_cast<int64_t>(yb) * rowCount / H);
    const int r1 = std::max(r0 + 1, rowLo + static_cast<int>(static_cast<int64_t>(yb + 1) * rowCount / H));
    std::fill(reduced.begin() + lo, reduced.begin() + hi, 0);
    for (int r = r0; r < r1 && r < rows; ++r) {
      const uint8_t* line = bitmap.Line(r);
      for (int c = lo; c < hi; ++c) reduced[c] = std::max(reduced[c], line[c]);
    }
    auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < W; ++x) {
      uint8_t m = 0;
      for (int c = c0[x]; c < c1[x]; ++c) m = std::max(m, reduced[c]);
      dst[x] = table[m];
    }
  }
  return out;
}

void TQuicklookPainter::Paint(QPainter& p, const QRect& target, const TQuicklookChannel& channel,
                              const TPaletteContrast& palette, const TQuicklookPaintOptions& options) {
  const QRect plot = PlotRect(target);
  const TTimeWindow window = channel.ViewWindow();
  const QFontMetrics fm = p.fontMetrics();
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.fillRect(target, QColor(240, 240, 240));
  p.fillRect(plot, NoDataColour);
  p.drawImage(plot.topLeft(), Picture(channel, palette, plot.size()));
  p.setPen(Qt::black);
  p.drawRect(plot.adjusted(0, 0, -1, -1));

  // Title.
  const QString title = QString::fromStdString(options.Title.empty() ? channel.Name() : options.Title);
  p.drawText(QRect(plot.left(), target.top(), plot.width(), kTop), Qt::AlignCenter, title);

  // Time axis.
  const double len = static_cast<double>(std::max<int64_t>(window.Length(), 1));
  const int64_t inc = TQuicklookAxes::TimeIncrement(window.Length(), std::max(2, plot.width() / 90));
  const int minor = TQuicklookAxes::MinorTicks(inc);
  const auto xOf = [&](double t) { return plot.left() + (t - static_cast<double>(window.Start)) / len * plot.width(); };
  const int64_t sub = std::max<int64_t>(inc / minor, 1);
  for (int64_t t = (window.Start + sub - 1) / sub * sub; t <= window.End; t += sub) {
    const double x = xOf(static_cast<double>(t));
    const bool major = t % inc == 0;
    p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + (major ? 6 : 3)));
    if (major) p.drawText(QRectF(x - 40, plot.bottom() + 7, 80, fm.height()), Qt::AlignHCenter, TimeLabel(t));
  }
  p.drawText(QRect(plot.left(), plot.bottom() + 8 + fm.height(), plot.width(), fm.height()), Qt::AlignHCenter,
             "Time (UTC)");

  // Range axis.
  const double rMin = channel.ViewMinKm(), rMax = channel.ViewMaxKm();
  const double span = std::max(rMax - rMin, 1e-9);
  const double rInc = TQuicklookAxes::RangeIncrement(span, std::max(2, plot.height() / 40));
  for (double d = std::ceil(rMin / rInc) * rInc; d <= rMax + 1e-9; d += rInc) {
    const double y = plot.bottom() - (d - rMin) / span * plot.height();
    p.drawLine(QPointF(plot.left() - 5, y), QPointF(plot.left(), y));
    p.drawText(QRectF(target.left(), y - fm.height() / 2.0, kLeft - 8, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(d, 'f', rInc < 1 ? 1 : 0));
  }
  p.save();
  p.translate(target.left() + fm.height() / 2.0 + 1, plot.center().y());
  p.rotate(-90);
  p.drawText(QRectF(-80, -fm.height() / 2.0, 160, fm.height()), Qt::AlignCenter, "Range (km)");
  p.restore();

  // Date of the visible window, lower left.
  if (options.ShowDate) {
    const QString date = DateText(window.End - 1);
    const QRect box(plot.left() + 4, plot.bottom() - fm.height() - 4, fm.horizontalAdvance(date) + 8, fm.height() + 2);
    p.fillRect(box, QColor(255, 255, 255, 200));
    p.drawText(box, Qt::AlignCenter, date);
  }

  // Event marks: white triangles just above the plot.
  if (options.ShowEvents) {
    p.setBrush(Qt::white);
    for (const TQuicklookEvent& e : channel.Events()) {
      const double x = xOf(DateTimeToUnix(e.Time));
      if (x < plot.left() || x > plot.right()) continue;
      const QPointF tri[3] = {{x - 5, plot.top() - 9.0}, {x + 5, plot.top() - 9.0}, {x, plot.top() - 1.0}};
      p.drawPolygon(tri, 3);
    }
    p.setBrush(Qt::NoBrush);
  }

  // Colour bar, f = 1 at the top, with the limits above and below.
  const QRect bar = ColourBarRect(target);
  for (int y = 0; y < bar.height(); ++y) {
    const double f = bar.height() > 1 ? 1.0 - static_cast<double>(y) / (bar.height() - 1) : 1.0;
    p.setPen(QColor::fromRgb(palette.ColourAt(f)));
    p.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
  }
  p.setPen(Qt::black);
  p.drawRect(bar.adjusted(0, 0, -1, -1));
  if (options.ShowMinMaxLabels) {
    const auto& s = channel.Slices();
    const bool empty = s.FirstFilledColumn() < 0;
    const QString mx = QString::fromStdString(empty ? "NoData" : TQuicklookColorScale::Label(s.ScaleMax()));
    const QString mn = QString::fromStdString(empty ? "NoData" : TQuicklookColorScale::Label(s.ScaleMin()));
    p.drawText(QRect(bar.left() - 30, bar.top() - fm.height() - 1, kBarWidth + 60, fm.height()), Qt::AlignCenter, mx);
    p.drawText(QRect(bar.left() - 30, bar.bottom() + 2, kBarWidth + 60, fm.height()), Qt::AlignCenter, mn);
  }
  p.restore();
}

}  // namespace OrlaqLidar
