#include "Display/ProfileView.h"

#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "Config/LidarConfig.h"

namespace OrlaqLidar {

namespace {
// The definition's colours are stored blue-green-red, low byte red.
QColor ChannelColour(int bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

// Colours too pale for a white chart are darkened.
QColor Readable(QColor c) { return c.lightness() > 200 ? c.darker(160) : c; }
}  // namespace

// Made with its chart: a chart set later releases the default one without deleting it.
TProfileView::TProfileView(const TLidarConfig& definition, QWidget* parent)
    : QChartView(new QChart(), parent), chart_(chart()) {
  chart_->legend()->setAlignment(Qt::AlignBottom);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  setRenderHint(QPainter::Antialiasing);
  distanceAxis_ = new QValueAxis(chart_);
  distanceAxis_->setLabelFormat("%.1f");
  chart_->addAxis(distanceAxis_, Qt::AlignLeft);
  SetValueAxis(display_.LogAxis());
  for (const auto& channel : definition.Channels)
    if (channel && channel->Type() == TChannelType::Lidar)
      curves_[channel->RecordID] = {Readable(ChannelColour(channel->Color)), QString::fromStdString(channel->Name), {}};
  for (int i = 0; i < 2; ++i) {
    auto* s = NewSeries(QColor(90, 90, 90));
    QPen pen = s->pen();
    pen.setStyle(Qt::DashLine);
    s->setPen(pen);
    rayleigh_.push_back(s);
  }
  refresh_.setSingleShot(true);
  refresh_.setInterval(150);
  connect(&refresh_, &QTimer::timeout, this, &TProfileView::Refresh);
  setMinimumWidth(240);
  Refresh();
}

QLineSeries* TProfileView::NewSeries(const QColor& colour) {
  auto* s = new QLineSeries(chart_);
  chart_->addSeries(s);
  s->attachAxis(distanceAxis_);
  if (valueAxis_) s->attachAxis(valueAxis_);
  QPen pen(colour);
  pen.setWidthF(1.2);
  s->setPen(pen);
  for (auto* m : chart_->legend()->markers(s)) m->setVisible(false);
  return s;
}

void TProfileView::SetValueAxis(bool log) {
  if (valueAxis_ && log == valueLog_) return;
  if (valueAxis_) {
    chart_->removeAxis(valueAxis_);
    delete valueAxis_;
  }
  if (log) {
    auto* a = new QLogValueAxis(chart_);
    a->setLabelFormat("%.0e");
    a->setMinorTickCount(0);
    valueAxis_ = a;
  } else {
    auto* a = new QValueAxis(chart_);
    a->setLabelFormat("%.3g");
    a->setTickCount(5);
    valueAxis_ = a;
  }
  valueLog_ = log;
  chart_->addAxis(valueAxis_, Qt::AlignBottom);
  for (auto* s : chart_->series()) s->attachAxis(valueAxis_);
}

void TProfileView::ScheduleRefresh() {
  if (!refresh_.isActive()) refresh_.start();
}

void TProfileView::Refresh() {
  const TValueAxis axis = display_.ValueAxis();
  SetValueAxis(axis.Log);
  valueAxis_->setTitleText(QString::fromStdString(axis.Title()));
  double lo = axis.Minimum, hi = axis.Maximum;
  if (!(hi > lo)) hi = lo * 10 + 1;
  valueAxis_->setRange(lo, hi);
  if (auto* log = qobject_cast<QLogValueAxis*>(valueAxis_)) {
    // At most about four labels: a narrow chart has no room for one per decade.
    const double decades = std::log10(hi / lo);
    log->setBase(std::pow(10.0, std::max(1.0, std::ceil(decades / 4.0))));
  }
  double dmin = 0, dmax = 0;
  display_.DistanceLimits(dmin, dmax);
  if (!(dmax > dmin)) dmax = dmin + 1;
  distanceAxis_->setRange(dmin, dmax);
  distanceAxis_->setTickCount(7);
  distanceAxis_->applyNiceNumbers();
  distanceAxis_->setTitleText(QString::fromStdString(display_.DistanceTitle()));
  chart_->setTitle(QString::fromStdString(display_.Header()));

  for (auto& [id, cs] : curves_) {
    const auto it = display_.Curves().find(id);
    const size_t runs = it == display_.Curves().end() ? 0 : it->second.Runs.size();
    const size_t needed = std::min(runs, MaxSeriesPerCurve);
    while (cs.Series.size() < std::max<size_t>(needed, 1)) cs.Series.push_back(NewSeries(cs.Colour));
    // The first series carries the legend entry of the channel.
    const QString title = it == display_.Curves().end() ? cs.Name
                                                        : cs.Name + " [" + QString::fromStdString(it->second.Title) + "]";
    cs.Series.front()->setName(title);
    for (auto* m : chart_->legend()->markers(cs.Series.front())) m->setVisible(true);
    for (size_t i = 0; i < cs.Series.size(); ++i) {
      QList<QPointF> points;
      if (i < needed) {
        const size_t last = i + 1 == needed ? runs : i + 1;
        for (size_t r = i; r < last; ++r)
          for (const auto& p : it->second.Runs[r]) points.append(QPointF(p.Value, p.Y));
      }
      cs.Series[i]->replace(points);
    }
  }
  RefreshRayleigh();
}

void TProfileView::RefreshRayleigh() {
  const auto segments = display_.RayleighSegments();
  for (size_t i = 0; i < rayleigh_.size(); ++i) {
    QList<QPointF> points;
    if (i < segments.size())
      points = {QPointF(segments[i].From.Value, segments[i].From.Y), QPointF(segments[i].To.Value, segments[i].To.Y)};
    rayleigh_[i]->replace(points);
  }
}

// Pixels of the chart item, the coordinates its value mapping works in.
TRayleighDrag::TPixel TProfileView::ChartPixel(const QPoint& viewPos) const {
  const QPointF p = chart_->mapFromScene(mapToScene(viewPos));
  return {p.x(), p.y()};
}

void TProfileView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    const auto toPixel = [this](const TProfilePoint& p) {
      const QPointF q = chart_->mapToPosition(QPointF(p.Value, p.Y), rayleigh_.front());
      return TRayleighDrag::TPixel{q.x(), q.y()};
    };
    if (rayleighDrag_.Press(display_.RayleighSegments(), ChartPixel(event->position().toPoint()), toPixel)) {
      setCursor(Qt::ClosedHandCursor);
      return;
    }
  }
  QChartView::mousePressEvent(event);
}

void TProfileView::mouseMoveEvent(QMouseEvent* event) {
  if (!rayleighDrag_.Active()) {
    QChartView::mouseMoveEvent(event);
    return;
  }
  const QRectF area = chart_->plotArea();
  const auto toPoint = [this](const TRayleighDrag::TPixel& p) {
    const QPointF v = chart_->mapToValue(QPointF(p.X, p.Y), rayleigh_.front());
    return TProfilePoint{v.x(), v.y()};
  };
  const auto anchor = rayleighDrag_.Move(ChartPixel(event->position().toPoint()),
                                         {area.left(), area.top(), area.right(), area.bottom()}, toPoint);
  if (!anchor) return;
  display_.MoveRayleighAnchor(anchor->Value, anchor->Y);
  RefreshRayleigh();
}

void TProfileView::mouseReleaseEvent(QMouseEvent* event) {
  if (!rayleighDrag_.Active()) {
    QChartView::mouseReleaseEvent(event);
    return;
  }
  rayleighDrag_.Release();
  unsetCursor();
}

}  // namespace OrlaqLidar
