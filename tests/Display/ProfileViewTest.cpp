// The profile chart offscreen: the Rayleigh lines grabbed and dragged with
// the mouse through the chart's own coordinates.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <cmath>
#include <cstdlib>

#include "Config/LidarConfig.h"
#include "Display/ProfileView.h"

namespace OrlaqLidar {
namespace {

void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons held) {
  QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(ProfileView, TheGrabbedRayleighLineFollowsTheMouse) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char name[] = "ProfileViewTest";
  static char* argv[] = {name, nullptr};
  if (!QApplication::instance()) new QApplication(argc, argv);

  TLidarConfig definition;
  TProfileView view(definition);
  view.resize(400, 600);
  view.show();
  TProfileDisplay& d = view.Display();
  d.SetLevelMask(63);
  d.SetRayleigh(true);
  d.SetManualDistance(false, 0, 15);
  d.SetManualValues(false, 1, 1e6);
  view.Refresh();
  QApplication::processEvents();

  QChart* chart = view.chart();
  QAbstractSeries* series = chart->series().front();
  const auto toView = [&](double value, double km) {
    return QPointF(view.mapFromScene(chart->mapToScene(chart->mapToPosition(QPointF(value, km), series))));
  };
  const auto before = d.RayleighSegments();
  ASSERT_EQ(before.size(), 2u);
  const double midKm = 5;
  const double midValue = before[0].From.Value * std::pow(10.0, -0.00011 * (midKm - before[0].From.Y) * 1000);
  const QPointF grab = toView(midValue, midKm);
  const QPointF to = grab + QPointF(40, -30);
  Mouse(view.viewport(), QEvent::MouseButtonPress, grab, Qt::LeftButton);
  Mouse(view.viewport(), QEvent::MouseMove, to, Qt::LeftButton);
  Mouse(view.viewport(), QEvent::MouseButtonRelease, to, Qt::NoButton);
  const auto after = d.RayleighSegments();
  ASSERT_NE(after[0].From.Value, before[0].From.Value) << "the lines moved";
  // The new line passes under the mouse: its value at the mouse's height
  // maps back to the mouse's x.
  const QPointF at = chart->mapToValue(chart->mapFromScene(view.mapToScene(to.toPoint())), series);
  const double onLine = after[0].From.Value * std::pow(10.0, -0.00011 * (at.y() - after[0].From.Y) * 1000);
  EXPECT_NEAR(toView(onLine, at.y()).x(), to.x(), 1.5);
}

}  // namespace
}  // namespace OrlaqLidar
