// The profile view's logic: curve titles, header, value axis by levels,
// gaps, distance or altitude, the Rayleigh segments and hold.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ChannelConfig.h"
#include "Display/ProfileDisplay.h"
#include "Display/RayleighDrag.h"
#include "kernel/ManagedProfile.h"

namespace OrlaqLidar {
namespace {

class ProfileDisplayTest : public ::testing::Test {
 protected:
  ProfileDisplayTest() {
    channel.DoorsUsed = 6;
    profile.ChannelID = 2;
    profile.LaserShots = 45000;
    profile.LastTime = EncodeDateTime(2024, 6, 1, 12, 34, 56, 900);
    for (int i = 0; i < 6; ++i) {
      profile.Distance[i] = 1000.0 * (i + 1);
      profile.Altitude[i] = 200.0 + 500.0 * (i + 1);
    }
    profile.Signal = {10, 20, -5, 40, NAN, 60};
  }
  TChannelConfig channel;
  TManagedProfile profile{2, &channel, nullptr, 60, nullptr};
  TProfileDisplay view;
};

TEST_F(ProfileDisplayTest, ShotTitlesAndHeader) {
  EXPECT_EQ(TProfileDisplay::ShotTitle(999), "999");
  EXPECT_EQ(TProfileDisplay::ShotTitle(45000), "45k");
  EXPECT_EQ(TProfileDisplay::ShotTitle(999999), "999k");
  EXPECT_EQ(TProfileDisplay::ShotTitle(1234567), "1m");
  view.AddProfile(profile);
  EXPECT_EQ(view.Curves().at(2).Title, "45k");
  EXPECT_EQ(view.Header(), "12:34:56.950 [45k]") << "last shot plus 50 ms";
}

TEST(ProfileDisplayAxis, CodeUnitAndAxisFollowTheLevelMask) {
  const auto raw = TProfileDisplay::LevelAxis(2);
  EXPECT_EQ(raw.Title(), "R (Count)");
  EXPECT_FALSE(raw.Log);
  EXPECT_EQ(raw.Maximum, 5000);
  EXPECT_EQ(TProfileDisplay::LevelAxis(3).Title(), "S (Ph/s)");
  EXPECT_EQ(TProfileDisplay::LevelAxis(23).Title(), "OSB (Ph/s)");
  const auto all = TProfileDisplay::LevelAxis(63);
  EXPECT_EQ(all.Title(), "OSBAr² (km².Ph/s)");
  EXPECT_TRUE(all.Log);
  EXPECT_TRUE(all.RayleighAllowed);
  EXPECT_EQ(TProfileDisplay::LevelAxis(39).Title(), "SBr² (km².Ph/s)");
}

TEST_F(ProfileDisplayTest, BadValuesAreGapsAndNegativesOnlyOnALogAxis) {
  view.SetLevelMask(63);  // log axis
  view.AddProfile(profile);
  const auto& log = view.Curves().at(2).Runs;
  ASSERT_EQ(log.size(), 3u);  // 10 20 | 40 | 60
  EXPECT_EQ(log[0].size(), 2u);
  EXPECT_DOUBLE_EQ(log[2][0].Value, 60);
  EXPECT_DOUBLE_EQ(log[2][0].Y, 6.0);

  view.SetAxisMode(TProfileDisplay::Linear);
  const auto& lin = view.Curves().at(2).Runs;
  ASSERT_EQ(lin.size(), 2u);  // 10 20 -5 40 | 60
  EXPECT_DOUBLE_EQ(lin[0][2].Value, -5);
}

TEST_F(ProfileDisplayTest, AltitudeRedrawsTheCurveAndRenamesTheAxis) {
  view.AddProfile(profile);
  EXPECT_EQ(view.DistanceTitle(), "Distance (km)");
  view.SetAltitude(true);
  EXPECT_EQ(view.DistanceTitle(), "Altitude (km)");
  EXPECT_DOUBLE_EQ(view.Curves().at(2).Runs[0][0].Y, 0.7);
  EXPECT_DOUBLE_EQ(view.Curves().at(2).AltitudeOffset, -0.3);
  EXPECT_DOUBLE_EQ(view.Curves().at(2).AltitudeRatio, 2.0);
}

TEST_F(ProfileDisplayTest, RayleighLinesOnlyOnALogAxisOfRangeCorrectedLevels) {
  view.SetRayleigh(true);
  view.SetManualDistance(false, 0, 15);
  view.SetLevelMask(63);
  auto segs = view.RayleighSegments();
  ASSERT_EQ(segs.size(), 2u);
  EXPECT_DOUBLE_EQ(segs[0].To.Y, 10);
  EXPECT_DOUBLE_EQ(segs[1].To.Y, 15) << "cut at the axis top";
  EXPECT_NEAR(segs[0].To.Value, 1000 * std::pow(10.0, -0.00011 * (10000 - 1)), 1e-9);
  EXPECT_DOUBLE_EQ(segs[1].From.Value, segs[0].To.Value);
  EXPECT_NEAR(segs[1].To.Value, segs[0].To.Value * std::pow(10.0, -0.00016 * 5000), 1e-12);

  view.SetAxisMode(TProfileDisplay::Linear);
  EXPECT_TRUE(view.RayleighSegments().empty());
  view.SetAxisMode(TProfileDisplay::Logarithmic);
  view.SetLevelMask(7);  // not range corrected
  EXPECT_TRUE(view.RayleighSegments().empty());
  view.SetLevelMask(63);
  view.SetRayleigh(false);
  EXPECT_TRUE(view.RayleighSegments().empty());
}

TEST_F(ProfileDisplayTest, DraggedRayleighLinesFollowTheMouseOnTheLogAxis) {
  // 50 pixels a decade from 1e-6 on the right, 20 pixels a km from 15 km at the top.
  const TRayleighDrag::TToPixel toPixel = [](const TProfilePoint& p) {
    return TRayleighDrag::TPixel{(std::log10(p.Value) + 6) * 50, 300 - p.Y * 20};
  };
  const TRayleighDrag::TToPoint toPoint = [](const TRayleighDrag::TPixel& p) {
    return TProfilePoint{std::pow(10.0, p.X / 50 - 6), (300 - p.Y) / 20};
  };
  const TRayleighDrag::TPlot plot{0, 0, 600, 300};
  view.SetRayleigh(true);
  view.SetManualDistance(false, 0, 15);
  view.SetLevelMask(63);
  const auto before = view.RayleighSegments();
  const TRayleighDrag::TPixel a = toPixel(before[0].From), b = toPixel(before[0].To);
  const TRayleighDrag::TPixel mid{(a.X + b.X) / 2, (a.Y + b.Y) / 2};

  TRayleighDrag drag;
  EXPECT_FALSE(drag.Press(before, {mid.X + 20, mid.Y}, toPixel));
  ASSERT_TRUE(drag.Press(before, {mid.X + 3, mid.Y}, toPixel));
  const auto anchor = drag.Move({mid.X + 53, mid.Y - 40}, plot, toPoint);
  ASSERT_TRUE(anchor);
  EXPECT_NEAR(anchor->Value, before[0].From.Value * 10, 1e-6) << "a decade to the right";
  EXPECT_NEAR(anchor->Y, 2, 1e-9);
  view.MoveRayleighAnchor(anchor->Value, anchor->Y);
  const auto after = view.RayleighSegments();
  EXPECT_DOUBLE_EQ(after[0].From.Y, 0) << "still from the axis bottom";
  EXPECT_LT(TRayleighDrag::Distance({mid.X + 50, mid.Y - 40}, toPixel(after[0].From), toPixel(after[0].To)), 1e-6)
      << "the grabbed point moved with the mouse";

  const auto far = drag.Move({-5000, 9000}, plot, toPoint);
  ASSERT_TRUE(far) << "kept inside the plot";
  EXPECT_TRUE(std::isfinite(far->Value));
  drag.Release();
  EXPECT_FALSE(drag.Move({mid.X, mid.Y}, plot, toPoint));
  view.SetAxisMode(TProfileDisplay::Linear);
  EXPECT_FALSE(drag.Press(view.RayleighSegments(), mid, toPixel)) << "no lines, nothing to grab";
}

TEST_F(ProfileDisplayTest, ManualLimitsAndHold) {
  view.SetLevelMask(3);
  view.AddProfile(profile);
  EXPECT_EQ(view.ValueAxis().Maximum, 60) << "automatic: follows the data";
  view.SetManualValues(false, 5, 500);
  EXPECT_EQ(view.ValueAxis().Minimum, 5);
  EXPECT_EQ(view.ValueAxis().Maximum, 500);
  double lo, hi;
  view.DistanceLimits(lo, hi);
  EXPECT_DOUBLE_EQ(lo, 1);
  EXPECT_DOUBLE_EQ(hi, 6);

  view.SetHold(true);
  profile.LaserShots = 1234567;
  view.AddProfile(profile);
  EXPECT_EQ(view.Curves().at(2).Title, "45k") << "held";
  view.SetHold(false);
  view.AddProfile(profile);
  EXPECT_EQ(view.Curves().at(2).Title, "1m");
}

}  // namespace
}  // namespace OrlaqLidar
