// The quicklook's view logic: where a profile lands, what colour its values
// take, the scale, palettes, labels, axes and the stored settings.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Common/DateTime.h"
#include "Common/IniFile.h"
#include "Display/Histogram.h"
#include "Display/PaletteContrast.h"
#include "Display/ProfileSliceList.h"
#include "Display/QuicklookAxes.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookColorScale.h"
#include "Display/ScrolledBitmap.h"

namespace OrlaqLidar {
namespace {

constexpr int kRows = 64;
const TDateTime kNoon = EncodeDateTime(2024, 6, 1, 12, 0, 0);

TDateTime Minutes(double m) { return kNoon + m / 1440.0; }

std::vector<double> Flat(double v) { return std::vector<double>(kRows, v); }

// Adds a full-length (60 s) profile starting at minute m.
int64_t Add(TProfileSliceList& list, double m, const std::vector<double>& v, double seconds = 59) {
  list.AddProfile(Minutes(m), Minutes(m) + seconds / 86400.0, v.data(), static_cast<int>(v.size()), false);
  return TQuicklookGrid::ColumnIndex(Minutes(m));
}

int PixelOf(const TProfileSliceList& list, int64_t column, int row) {
  return list.Bitmap().Pixel(row, static_cast<int>(column - list.FirstVisibleColumn()));
}

TEST(QuicklookGrid, ColumnsCountWholeMinutesSince1970AndSlicesHoldAnHour) {
  EXPECT_EQ(TQuicklookGrid::ColumnIndex(EncodeDateTime(1970, 1, 1, 0, 1, 0)), 1);
  EXPECT_EQ(TQuicklookGrid::ColumnIndex(EncodeDateTime(1970, 1, 1, 0, 0, 59, 999)), 0);
  const int64_t c = TQuicklookGrid::ColumnIndex(kNoon);
  EXPECT_EQ(TQuicklookGrid::ColumnIndex(TQuicklookGrid::ColumnTime(c)), c);
  EXPECT_EQ(TQuicklookGrid::ColumnIndex(kNoon - 1e-9), c - 1) << "a hair before the minute is the column before";

  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(c - 100);
  Add(list, 30, Flat(100));  // 12:30: the slice of 12:00..12:59
  Add(list, 59, Flat(100));
  Add(list, 60, Flat(100));
  ASSERT_EQ(list.Slices().size(), 2u);
  EXPECT_EQ(list.Slices()[0]->FirstColumn(), c);
  EXPECT_EQ(list.Slices()[0]->Width(), 60);
  EXPECT_EQ(list.Slices()[1]->FirstColumn(), c + 60);
  // A late-arriving earlier hour is kept in order.
  Add(list, -30, Flat(100));
  ASSERT_EQ(list.Slices().size(), 3u);
  EXPECT_EQ(list.Slices()[0]->FirstColumn(), c - 60);
}

TEST(QuicklookColumns, EmptyProfileFillsATransparentColumnAndTheLaterProfileWins) {
  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(TQuicklookGrid::ColumnIndex(kNoon) - 10);
  Add(list, 0, Flat(100));
  std::vector<double> empty = Flat(0);
  empty[5] = -3;
  empty[6] = std::nan("");
  const int64_t c = Add(list, 1, empty);
  EXPECT_TRUE(list.FindSlice(c)->Filled(c));
  for (int r = 0; r < kRows; ++r) EXPECT_EQ(PixelOf(list, c, r), 0) << r;

  // The same minute again: the later profile replaces the earlier one.
  Add(list, 0.5, Flat(1000));
  const int64_t c0 = TQuicklookGrid::ColumnIndex(kNoon);
  EXPECT_FLOAT_EQ(list.FindSlice(c0)->Value(3, c0), static_cast<float>(std::log10(1001.0)));
  Add(list, 0.7, Flat(0));
  EXPECT_EQ(PixelOf(list, c0, 3), 0);
}

TEST(QuicklookScale, ShortProfilesDoNotMoveTheScaleAndEqualValuesTakeColourOne) {
  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(TQuicklookGrid::ColumnIndex(kNoon) - 10);
  const int64_t a = Add(list, 0, Flat(99));
  const int64_t b = Add(list, 1, Flat(99));
  EXPECT_EQ(list.ScaleFactor(), 0);
  for (int r = 1; r < kRows - 1; ++r) {  // the last row has no gate: gate 0 is not stored
    EXPECT_EQ(PixelOf(list, a, r), 1);
    EXPECT_EQ(PixelOf(list, b, r), 1);
  }

  std::vector<double> ramp(kRows);
  for (int i = 0; i < kRows; ++i) ramp[i] = std::pow(10.0, 1 + 4.0 * i / kRows);
  Add(list, 2, ramp);
  const double mn = list.ScaleMin(), mx = list.ScaleMax();
  ASSERT_LT(mn, mx);
  const int64_t s = Add(list, 3, Flat(1e9), 3);  // a 3-second profile
  EXPECT_EQ(list.ScaleMin(), mn);
  EXPECT_EQ(list.ScaleMax(), mx);
  EXPECT_EQ(PixelOf(list, s, 10), 255) << "still drawn, at the top colour";
  list.Refresh();
  EXPECT_EQ(list.ScaleMax(), mx) << "a full rebuild ignores it as well";
}

TEST(QuicklookScale, ColumnByColumnHistogramMatchesAFullRebuild) {
  std::mt19937 rng(7);
  std::lognormal_distribution<double> signal(5, 2);
  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(TQuicklookGrid::ColumnIndex(kNoon) - 10);
  for (int m = 0; m < 200; ++m) {
    std::vector<double> v(kRows);
    for (double& x : v) x = signal(rng);
    Add(list, m % 150, v);  // the last 50 overwrite earlier columns
  }
  const double mn = list.ScaleMin(), mx = list.ScaleMax();
  const int64_t total = list.Histogram().Total();
  list.Refresh();
  EXPECT_EQ(list.Histogram().Total(), total);
  EXPECT_DOUBLE_EQ(list.ScaleMin(), mn);
  EXPECT_DOUBLE_EQ(list.ScaleMax(), mx);
}

TEST(QuicklookScale, BulkHistogramAndRecolouringMatchTheValueByValueRules) {
  // Values on the bin edges (with a width of 1.1, 16.5 / 1.1 falls below
  // 15 while 16.5 times the inverse does not), the bounds, beyond them,
  // and values that do not count.
  THistogram one, bulk;
  one.Reset(0, 1127.5);
  bulk.Reset(one.Lower(), one.Upper());
  constexpr int kWidth = 7;  // not a multiple of the block of four
  std::vector<float> values;
  for (int k = 0; k < 1100; ++k) values.push_back(static_cast<float>(k * one.BinWidth()));
  for (float extra : {0.0f, -1.0f, 0.5f, 1127.5f, 5000.0f, std::nextafter(16.5f, 0.0f), std::nanf("")})
    values.push_back(extra);
  values.resize((values.size() + kWidth - 1) / kWidth * kWidth, 3.0f);
  const uint8_t mask[kWidth] = {1, 1, 0, 1, 1, 1, 1};
  for (size_t i = 0; i < values.size(); ++i)
    if (mask[i % kWidth] && values[i] > 0) one.Add(values[i]);
  bulk.AddRows(values.data(), static_cast<int>(values.size() / kWidth), kWidth, mask);
  EXPECT_EQ(bulk.Total(), one.Total());
  for (int b = 0; b < THistogram::Bins; ++b) ASSERT_EQ(bulk.Count(b), one.Count(b)) << "bin " << b;

  // The whole picture coloured at once equals the columns drawn one by one.
  std::mt19937 rng(11);
  std::lognormal_distribution<double> signal(5, 2);
  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(TQuicklookGrid::ColumnIndex(kNoon) - 10);
  for (int m = 0; m < 90; m += 1 + m % 3) {
    std::vector<double> v(kRows);
    for (double& x : v) x = rng() % 5 ? signal(rng) : 0.0;
    Add(list, m, v, m % 7 ? 59 : 2);
  }
  list.Refresh();
  std::vector<uint8_t> whole;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < list.VisibleWidth(); ++c) whole.push_back(list.Bitmap().Pixel(r, c));
  for (int64_t c = list.FirstVisibleColumn(); c < list.FirstVisibleColumn() + list.VisibleWidth(); ++c)
    list.DrawColumn(c);
  size_t i = 0;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < list.VisibleWidth(); ++c, ++i) ASSERT_EQ(list.Bitmap().Pixel(r, c), whole[i]) << r << "," << c;
}

TEST(QuicklookScale, ManualScaleInLabelUnitsAndItsRefusal) {
  TQuicklookColorScale s;
  EXPECT_FALSE(s.Accept("1000", "1", true));
  EXPECT_DOUBLE_EQ(s.Max, 9);
  EXPECT_DOUBLE_EQ(s.Min, 6);
  EXPECT_TRUE(s.Manual);

  TQuicklookColorScale r;
  EXPECT_EQ(r.Accept("5", "5", true).value_or(""), "Max scale must be greater than Min scale !");
  EXPECT_EQ(r.Accept("1", "1000", true).value_or(""), "Max scale must be greater than Min scale !");
  EXPECT_TRUE(r.Accept("1000", "0", true)) << "no logarithm of 0";
  EXPECT_TRUE(r.Accept("abc", "1", true));
  EXPECT_FALSE(r.Manual) << "a refused box changes nothing";

  TProfileSliceList list(kRows);
  list.SetFirstVisibleColumn(TQuicklookGrid::ColumnIndex(kNoon) - 10);
  list.SetManualScale(true, s.Max, s.Min);
  const int64_t c = Add(list, 0, Flat(std::pow(10.0, 7.5)));
  EXPECT_EQ(PixelOf(list, c, 5), 128);  // (7.5 - 6) * 254 / 3 + 1
}

TEST(QuicklookScale, LabelsAndStoredSettings) {
  EXPECT_EQ(TQuicklookColorScale::Label(9), "1e+03");
  EXPECT_EQ(TQuicklookColorScale::Label(6 + std::log10(2.5)), "2.5");
  EXPECT_EQ(TQuicklookColorScale::Label(INFINITY), "NoData");
  EXPECT_EQ(TQuicklookColorScale::Label(2e10), "NoData");
  EXPECT_EQ(TQuicklookColorScale::FormatStored(6), "6.0E0");
  EXPECT_EQ(TQuicklookColorScale::FormatStored(1234.5), "1.235E3");
  EXPECT_EQ(TQuicklookColorScale::FormatStored(-0.00125), "-1.25E-3");

  TIniFile store;
  TQuicklookColorScale s;
  ASSERT_FALSE(s.Accept("1000", "1", true));
  s.Save(store, 3);
  EXPECT_EQ(store.ReadString("Skyvane\\GUI\\QL3", "ColorMaxScale", ""), "9.0E0");
  EXPECT_TRUE(store.ReadBool("Skyvane\\GUI\\QL3", "ManualColorScale", false));
  TQuicklookColorScale back;
  back.Load(store, 3);
  EXPECT_TRUE(back.Manual);
  EXPECT_DOUBLE_EQ(back.Max, 9);
  EXPECT_DOUBLE_EQ(back.Min, 6);
  TQuicklookColorScale unset;
  unset.Load(store, 4);
  EXPECT_FALSE(unset.Manual);
  EXPECT_TRUE(std::isinf(unset.Max));
}

TEST(QuicklookSlices, LiveKeepsTwoDaysAndDropsTheOldestHour) {
  TProfileSliceList live(kRows), replay(kRows);
  live.SetLimit(true);
  for (int h = 0; h < 50; ++h) {
    Add(live, h * 60, Flat(100));
    Add(replay, h * 60, Flat(100));
  }
  EXPECT_EQ(live.Slices().size(), 48u);
  EXPECT_EQ(live.EarliestSliceStart(), TQuicklookGrid::ColumnIndex(kNoon) + 2 * 60);
  EXPECT_EQ(replay.Slices().size(), 50u);
  EXPECT_EQ(replay.DropUpTo(TQuicklookGrid::ColumnIndex(kNoon) + 60), 2);
}

TEST(ScrolledBitmap, ScrollingKeepsColumnsAndClearsWhatComesIntoView) {
  TScrolledBitmap b(20, 4);
  for (int step = 0; step < 200; ++step) {  // far beyond the spare lines
    for (int r = 0; r < 4; ++r) b.SetPixel(r, 19, static_cast<uint8_t>(step % 250 + 1));
    b.Scroll(1);
    for (int r = 0; r < 4; ++r) {
      ASSERT_EQ(b.Pixel(r, 18), step % 250 + 1) << step;
      ASSERT_EQ(b.Pixel(r, 19), 0);
    }
  }
  b.Scroll(-3);
  EXPECT_EQ(b.Pixel(2, 0), 0);
  EXPECT_EQ(b.Pixel(2, 1), 0);
  EXPECT_EQ(b.Pixel(2, 2), 0);
  EXPECT_NE(b.Pixel(2, 3), 0);
  b.Scroll(25);
  for (int c = 0; c < 20; ++c) EXPECT_EQ(b.Pixel(1, c), 0);
}

TEST(QuicklookPalette, SixteenPatchesAreSampledAlongTheMiddleRow) {
  std::vector<int> xs;
  const auto colours = TPaletteContrast::SampleBitmap(240, 16, [&](int x, int y) {
    EXPECT_EQ(y, 8);
    xs.push_back(x);
    return static_cast<uint32_t>(x / 15 * 0x101010);
  });
  ASSERT_TRUE(colours);
  ASSERT_EQ(xs.size(), 16u);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(xs[k], 8 + 15 * k);
    EXPECT_EQ((*colours)[k], static_cast<uint32_t>(k * 0x101010));
  }
  EXPECT_FALSE(TPaletteContrast::SampleBitmap(63, 3, [](int, int) { return 0u; }));
  EXPECT_FALSE(TPaletteContrast::SampleBitmap(100, 100, [](int, int) { return 0u; }));

  TPaletteContrast p;
  EXPECT_EQ(p.Table()[0], 0u) << "no data stays transparent";
  EXPECT_EQ(p.Table()[1], 0xFF0000FFu) << "blue end of the ramp without a palette";
  EXPECT_EQ(p.Table()[255], 0xFFFF7F00u);
  p.SetPalette(*colours, "Grey");
  EXPECT_EQ(p.Table()[1], 0xFF000000u);
  EXPECT_EQ(p.Table()[255], 0xFFF0F0F0u);
  const uint32_t mid = p.Table()[128];
  p.MoveThreshold(8, 0.9);
  EXPECT_NE(p.Table()[128], mid);
  p.MoveThreshold(8, 2.0);
  EXPECT_DOUBLE_EQ(p.Threshold(8), p.Threshold(9)) << "kept below its neighbour";
}

TEST(QuicklookAxes, TimeSpanRuleAndRangeAxis) {
  // Automatic: the data extent plus a step, kept between 10 minutes and a day.
  auto w = TQuicklookAxes::TimeWindow(0, 1000, 1000, 60);
  EXPECT_EQ(w.End, 1001 * 60);
  EXPECT_EQ(w.Length(), 600);
  EXPECT_EQ(TQuicklookAxes::TimeWindow(0, 1000, 1119, 60).Length(), 7200);
  EXPECT_EQ(TQuicklookAxes::TimeWindow(0, 0, 5000, 60).Length(), 86400);
  EXPECT_EQ(TQuicklookAxes::TimeWindow(30, 0, 5000, 60).Length(), 1800);
  EXPECT_EQ(TQuicklookAxes::MinorTicks(900), 4);
  EXPECT_EQ(TQuicklookAxes::MinorTicks(3600), 5);
  EXPECT_LE(86400 / TQuicklookAxes::TimeIncrement(86400), 8);

  EXPECT_NEAR(TQuicklookAxes::BinWidthKm(100e-9), 0.0149896229, 1e-12);
  EXPECT_NEAR(TQuicklookAxes::RangeMaxKm(2048, 100e-9, 1e-6), 2048 * 0.0149896229 + 0.149896229, 1e-9);
  EXPECT_NEAR(TQuicklookAxes::RowOf(1.0 + 0.149896229, 100e-9, 1e-6), 1.0 / 0.0149896229, 1e-6);
}

TEST(QuicklookChannel, FollowsTheDataAndKeepsThePictureLeftOfTheWindow) {
  TQuicklookChannel ch(1, "532 nm", kRows, 100e-9, 0);
  for (int m = 0; m < 120; ++m) ch.AddProfile(Minutes(m), Minutes(m) + 59 / 86400.0, Flat(50), false);
  const int64_t last = TQuicklookGrid::ColumnIndex(Minutes(119));
  EXPECT_EQ(ch.Window().End, (last + 1) * 60);
  EXPECT_EQ(ch.Window().Length(), 7200);
  EXPECT_EQ(ch.Slices().FirstVisibleColumn(), ch.Window().Start / 60 - 1);
  EXPECT_EQ(PixelOf(ch.Slices(), last, 4), 1);
  EXPECT_EQ(PixelOf(ch.Slices(), last - 119, 4), 1) << "the first column is still in the picture";

  ch.SetAutoScroll(false);
  ch.AddProfile(Minutes(200), Minutes(200) + 59 / 86400.0, Flat(50), false);
  EXPECT_EQ(ch.Window().End, (last + 1) * 60) << "paused: the window stays";
}

}  // namespace
}  // namespace OrlaqLidar
