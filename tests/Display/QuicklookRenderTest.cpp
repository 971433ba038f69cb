// The quicklook drawn offscreen: a cloud layer leaves the "no data" colour,
// the shipped palettes load, and the daily pictures are written per
// channel and day.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "Common/DateTime.h"
#include "Display/DailyQuicklook.h"
#include "Display/PaletteLibrary.h"
#include "Display/QuicklookImage.h"
#include "Display/QuicklookPainter.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

constexpr int kRows = 512;
constexpr int kCloudFrom = 300, kCloudTo = 320;

class QuicklookRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "QuicklookRenderTest";
    static char* argv[] = {name, nullptr};
    // Left alive to the end of the process: destroying it among the
    // static destructors crashes.
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
  }

  // Boundary layer decaying with range, a cloud between two ranges.
  static std::vector<double> Profile() {
    std::vector<double> v(kRows);
    for (int i = 0; i < kRows; ++i) v[i] = 2e4 * std::exp(-i / 60.0) + 5;
    for (int i = kCloudFrom; i < kCloudTo; ++i) v[i] = 3e6;
    return v;
  }
};

TEST_F(QuicklookRender, CloudRowsLeaveTheNoDataColour) {
  TQuicklookChannel ch(1, "532 nm //", kRows, 100e-9, 0);
  const TDateTime t0 = EncodeDateTime(2024, 6, 1, 10, 0, 0);
  const auto v = Profile();
  for (int m = 0; m < 180; ++m) ch.AddProfile(t0 + m / 1440.0, t0 + (m + 59.0 / 60) / 1440.0, v, false);
  ch.SetTimeSpan(360);  // six hours: the first half of the window holds no data

  TPaletteContrast palette;
  const QImage image = TQuicklookImage::Render(QSize(900, 500), {&ch}, palette);
  const QRect plot = TQuicklookPainter::PlotRect(image.rect());
  const auto yOfRow = [&](double row) { return plot.bottom() - static_cast<int>(row / kRows * plot.height()); };
  const QRgb noData = TQuicklookPainter::NoDataColour.rgb();
  const int xData = plot.left() + plot.width() * 3 / 4;
  const int xEmpty = plot.left() + plot.width() / 4;
  const int yCloud = yOfRow((kCloudFrom + kCloudTo) / 2.0);
  EXPECT_NE(image.pixel(xData, yCloud), noData);
  EXPECT_EQ(image.pixel(xEmpty, yCloud), noData);
  // The cloud is brighter than the clear air just below it: another colour.
  EXPECT_NE(image.pixel(xData, yCloud), image.pixel(xData, yOfRow(kCloudFrom - 40)));
}

TEST_F(QuicklookRender, ShippedPalettesLoad) {
  TPaletteLibrary lib;
  ASSERT_EQ(lib.Load((OrlaqLidar::Test::SourceDir() / "share" / "palettes").string()), 3);
  const auto* grey = lib.Find("grey");
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->Colours[0], 0x000000u);
  EXPECT_EQ(grey->Colours[15], 0xFFFFFFu);
  EXPECT_TRUE(lib.Find("Viridis"));
  EXPECT_TRUE(lib.Find("Rainbow"));
}

TEST_F(QuicklookRender, OneDailyPicturePerChannelAndDay) {
  OrlaqLidar::Test::TTempDir dir;
  TDailyQuicklook daily((dir.Path() / "ql").string(), QSize(600, 300));
  const auto v = Profile();
  const TDateTime t0 = EncodeDateTime(2024, 6, 1, 22, 0, 0);
  for (int m = 0; m < 240; ++m)  // 22:00 to 02:00 of the next day
    for (int id : {1, 2})
      daily.AddProfile(id, id == 1 ? "532 nm" : "1064 nm", kRows, 100e-9, 0, t0 + m / 1440.0,
                       t0 + (m + 59.0 / 60) / 1440.0, v.data(), kRows);
  EXPECT_EQ(daily.Written().size(), 2u) << "the first day is written when the next begins";
  daily.Finish();
  ASSERT_EQ(daily.Written().size(), 4u);
  EXPECT_TRUE(daily.Failed().empty());
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "ql" / "QL_20240601_532_nm.png"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "ql" / "QL_20240602_1064_nm.png"));
  const QImage png(QString::fromStdString((dir.Path() / "ql" / "QL_20240602_532_nm.png").string()));
  ASSERT_FALSE(png.isNull());
  EXPECT_EQ(png.size(), QSize(600, 300));
}

}  // namespace
}  // namespace OrlaqLidar
