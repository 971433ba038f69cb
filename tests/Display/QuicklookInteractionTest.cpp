// What the operator does on a quicklook panel: the manual colour-scale box,
// dragging the colour ramp's thresholds on the colour bar, and zooming.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "Common/DateTime.h"
#include "Display/ColourBarDrag.h"
#include "Display/PaletteContrast.h"
#include "Display/ProfileSliceList.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookDisplayPnl.h"
#include "Display/QuicklookScaleDlg.h"

namespace OrlaqLidar {
namespace {

constexpr int kRows = 32;
const TDateTime kNoon = EncodeDateTime(2024, 6, 1, 12, 0, 0);

TDateTime Minutes(double m) { return kNoon + m / 1440.0; }

void AddMinute(TQuicklookChannel& ch, int m, double value) {
  ch.AddProfile(Minutes(m), Minutes(m) + 59 / 86400.0, std::vector<double>(kRows, value), false);
}

class QuicklookInteraction : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "QuicklookInteractionTest";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process, as Qt wants its application object.
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
};

TEST_F(QuicklookInteraction, ScaleBoxRefusesAnInvertedScaleThenSetsTheChannelsLimits) {
  TQuicklookChannel ch(1, "532 nm", kRows, 100e-9, 0);
  for (int m = 0; m < 10; ++m) AddMinute(ch, m, 100.0 * (m + 1));
  TQuicklookScaleDlg dlg(ch.ColorScale(), ch.Slices().ScaleMax(), ch.Slices().ScaleMin());
  EXPECT_FALSE(dlg.ManualBox()->isChecked());
  EXPECT_FALSE(dlg.MaxEdit()->text().isEmpty()) << "starts from the limits shown";

  dlg.MaxEdit()->setText("1");
  dlg.MinEdit()->setText("1000");
  dlg.ManualBox()->setChecked(true);
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Rejected) << "still open";
  EXPECT_EQ(dlg.Refusal(), "Max scale must be greater than Min scale !");
  EXPECT_FALSE(dlg.Result().Manual);

  dlg.MaxEdit()->setText("1000");
  dlg.MinEdit()->setText("1");
  dlg.accept();
  ASSERT_EQ(dlg.result(), QDialog::Accepted);
  ch.SetColorScale(dlg.Result());
  EXPECT_TRUE(ch.Slices().Manual());
  EXPECT_DOUBLE_EQ(ch.Slices().ScaleMax(), 9);
  EXPECT_DOUBLE_EQ(ch.Slices().ScaleMin(), 6);
}

TEST(ColourBarDrag, PixelsMapToTheRampAndADraggedThresholdStaysBetweenItsNeighbours) {
  const TColourBarDrag::TBar bar{100, 151};  // 150 pixels from f = 1 down to f = 0
  EXPECT_DOUBLE_EQ(TColourBarDrag::FractionAt(bar, 100), 1.0);
  EXPECT_DOUBLE_EQ(TColourBarDrag::FractionAt(bar, 250), 0.0);
  EXPECT_DOUBLE_EQ(TColourBarDrag::FractionAt(bar, 400), 0.0) << "below the bar: clamped";
  EXPECT_DOUBLE_EQ(TColourBarDrag::PixelAt(bar, 0.2), 220);

  TPaletteContrast palette;  // thresholds at k / 15: every 10 pixels
  TColourBarDrag drag;
  EXPECT_FALSE(drag.Press(palette, bar, 105)) << "half-way between two thresholds";
  EXPECT_FALSE(drag.Press(palette, bar, 100)) << "the top end does not move";
  ASSERT_TRUE(drag.Press(palette, bar, 242));  // threshold 1 at row 240
  EXPECT_TRUE(drag.Move(palette, 235));
  EXPECT_NEAR(palette.Threshold(1), 15.0 / 150, 1e-12);
  drag.Move(palette, 120);  // far above threshold 2
  EXPECT_DOUBLE_EQ(palette.Threshold(1), palette.Threshold(2)) << "stopped at its upper neighbour";
  drag.Release();
  EXPECT_FALSE(drag.Move(palette, 200));

  // Two thresholds on one another: the first move picks which one goes.
  ASSERT_TRUE(drag.Press(palette, bar, 230));
  EXPECT_TRUE(drag.Move(palette, 225));
  EXPECT_NEAR(palette.Threshold(2), 25.0 / 150, 1e-12) << "upwards: the upper one";
  EXPECT_NEAR(palette.Threshold(1), 20.0 / 150, 1e-12);
  for (int k = 1; k < TPaletteContrast::Colours; ++k) EXPECT_LE(palette.Threshold(k - 1), palette.Threshold(k));
}

TEST(QuicklookZoom, ThePictureKeepsItsColumnsWhileUpdatesWaitAndCatchesUpAfter) {
  TProfileSliceList list(kRows);
  const int64_t c0 = TQuicklookGrid::ColumnIndex(kNoon);
  list.SetFirstVisibleColumn(c0 - 10);
  std::vector<double> ramp(kRows);
  for (int m = 0; m < 20; ++m) {
    std::fill(ramp.begin(), ramp.end(), std::pow(10.0, 1 + m / 5.0));
    list.AddProfile(Minutes(m), Minutes(m) + 59 / 86400.0, ramp.data(), kRows, false);
  }
  const auto pixel = [&](int64_t c) { return list.Bitmap().Pixel(3, static_cast<int>(c - list.FirstVisibleColumn())); };
  std::vector<int> before;
  for (int64_t c = c0; c < c0 + 20; ++c) before.push_back(pixel(c));
  ASSERT_NE(before.front(), before.back());

  list.SetUpdatesEnabled(false);
  list.SetFirstVisibleColumn(c0 - 7);
  for (int64_t c = c0; c < c0 + 20; ++c) ASSERT_EQ(pixel(c), before[c - c0]) << "column " << c - c0 << " kept its place";
  list.AddProfile(Minutes(20), Minutes(20) + 59 / 86400.0, ramp.data(), kRows, false);
  EXPECT_EQ(pixel(c0 + 20), 0) << "not drawn while updates wait";

  list.SetUpdatesEnabled(true);
  EXPECT_NE(pixel(c0 + 20), 0);
  std::vector<uint8_t> shown(list.Bitmap().Line(3), list.Bitmap().Line(3) + list.VisibleWidth());
  list.RedrawAll();
  EXPECT_EQ(std::vector<uint8_t>(list.Bitmap().Line(3), list.Bitmap().Line(3) + list.VisibleWidth()), shown);
}

TEST(QuicklookZoom, ZoomFreezesThePictureOnWholeColumnsAndRowsUntilItEnds) {
  TQuicklookChannel ch(1, "532 nm", kRows, 100e-9, 0);  // 15 m rows
  for (int m = 0; m < 30; ++m) AddMinute(ch, m, 500);
  const int64_t start = std::llround(DateTimeToUnix(Minutes(5)));
  ch.Zoom({start + 10, start + 20}, 0.1, 0.02);
  ASSERT_TRUE(ch.Zoomed());
  EXPECT_FALSE(ch.Slices().UpdatesEnabled());
  EXPECT_EQ(ch.ViewWindow().Start, start);
  EXPECT_EQ(ch.ViewWindow().Length(), 120) << "at least two columns";
  const double row = TQuicklookAxes::BinWidthKm(100e-9);
  EXPECT_NEAR(ch.ViewMinKm(), 1 * row, 1e-12) << "whole rows around the range dragged";
  EXPECT_NEAR(ch.ViewMaxKm(), 7 * row, 1e-12);

  const TTimeWindow followed = ch.Window();
  AddMinute(ch, 30, 500);
  EXPECT_GT(ch.Window().End, followed.End) << "the window still follows the data";
  EXPECT_EQ(ch.ViewWindow().Start, start) << "the zoom stays";
  const int64_t last = TQuicklookGrid::ColumnIndex(Minutes(30));
  const auto pixel = [&](int64_t c) {
    return ch.Slices().Bitmap().Pixel(3, static_cast<int>(c - ch.Slices().FirstVisibleColumn()));
  };
  EXPECT_EQ(pixel(last), 0);
  EXPECT_EQ(pixel(last - 1), 1) << "earlier columns still in place";

  ch.EndZoom();
  EXPECT_TRUE(ch.Slices().UpdatesEnabled());
  EXPECT_EQ(pixel(last), 1);
  EXPECT_EQ(ch.ViewWindow().End, ch.Window().End);
}

void Mouse(QWidget& w, QEvent::Type type, QPoint at) {
  const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(at), QPointF(w.mapToGlobal(at)), Qt::LeftButton, held, Qt::NoModifier);
  QApplication::sendEvent(&w, &e);
}

void Drag(QWidget& w, QPoint from, QPoint to) {
  Mouse(w, QEvent::MouseButtonPress, from);
  Mouse(w, QEvent::MouseMove, to);
  Mouse(w, QEvent::MouseButtonRelease, to);
}

TEST_F(QuicklookInteraction, RightwardsRectangleZoomsWithABlinkingZAndLeftwardsGoesBack) {
  TQuicklookChannel ch(1, "532 nm", kRows, 100e-9, 0);
  for (int m = 0; m < 120; ++m) AddMinute(ch, m, 500);
  TPaletteContrast palette;
  TQuicklookDisplayPnl panel(&ch, &palette);
  panel.resize(800, 400);
  int clicks = 0;
  QObject::connect(&panel, &TQuicklookDisplayPnl::TimeClicked, [&] { ++clicks; });
  const QPoint centre = TQuicklookPainter::PlotRect(panel.rect()).center();

  Drag(panel, centre, centre + QPoint(2, 1));
  EXPECT_EQ(clicks, 1) << "a click, not a zoom";
  EXPECT_FALSE(ch.Zoomed());

  Drag(panel, centre - QPoint(100, 50), centre + QPoint(100, 50));
  ASSERT_TRUE(ch.Zoomed());
  EXPECT_LT(ch.ViewWindow().Length(), ch.Window().Length());
  EXPECT_TRUE(panel.ZoomIndicatorShown());
  panel.Blink();
  EXPECT_FALSE(panel.ZoomIndicatorShown());
  panel.Blink();
  EXPECT_TRUE(panel.ZoomIndicatorShown());

  Drag(panel, centre + QPoint(50, 0), centre - QPoint(50, 20));
  EXPECT_FALSE(ch.Zoomed());
  EXPECT_FALSE(panel.ZoomIndicatorShown());
  EXPECT_TRUE(ch.Slices().UpdatesEnabled());
  EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace OrlaqLidar
