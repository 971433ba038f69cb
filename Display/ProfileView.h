#pragma once
// The profile chart: TProfileDisplay's curves, one colour per channel, the
// value axis on the bottom (linear or logarithmic) and distance or altitude
// upwards, with the simplified Rayleigh lines when they apply; the mouse
// drags those lines.
#include <QChartView>
#include <QTimer>
#include <map>
#include <vector>

#include "Display/ProfileDisplay.h"
#include "Display/RayleighDrag.h"

class QLineSeries;
class QValueAxis;
class QAbstractAxis;

namespace OrlaqLidar {

class TLidarConfig;

class TProfileView : public QChartView {
  Q_OBJECT
 public:
  // More runs than this in one curve are joined in its last series.
  static constexpr size_t MaxSeriesPerCurve = 64;

  explicit TProfileView(const TLidarConfig& definition, QWidget* parent = nullptr);

  TProfileDisplay& Display() { return display_; }
  // Redraws soon, once for a burst of profiles.
  void ScheduleRefresh();
  // Builds the chart from the display now.
  void Refresh();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  struct TCurveSeries {
    QColor Colour;
    QString Name;
    std::vector<QLineSeries*> Series;
  };
  QLineSeries* NewSeries(const QColor& colour);
  void SetValueAxis(bool log);
  void RefreshRayleigh();
  TRayleighDrag::TPixel ChartPixel(const QPoint& viewPos) const;

  TProfileDisplay display_;
  QChart* chart_;
  QValueAxis* distanceAxis_;
  QAbstractAxis* valueAxis_ = nullptr;
  bool valueLog_ = false;
  std::map<int, TCurveSeries> curves_;
  std::vector<QLineSeries*> rayleigh_;
  TRayleighDrag rayleighDrag_;
  QTimer refresh_;
};

}  // namespace OrlaqLidar
