// The configuration dialog's rules without its widgets: the typed
// quicklook time span and the manual axis limits.
#include "Display/AppConfigCheck.h"

#include <gtest/gtest.h>

namespace OrlaqLidar {
namespace {

std::string Typed(const char* text) {
  const auto m = TAppConfigCheck::ParseSpan(text);
  return m ? TAppConfigCheck::SpanText(*m) + " = " + std::to_string(*m) : "none";
}

TEST(AppConfigCheck, TypedTimeSpanIsNormalisedAndShownAsItemOrWithUnit) {
  EXPECT_EQ(Typed("45"), "50 min = 50");
  EXPECT_EQ(Typed("61"), "1h = 60");
  EXPECT_EQ(Typed("65"), "2h = 120");
  EXPECT_EQ(Typed("3h"), "3h = 180");
  EXPECT_EQ(Typed(" 3 H"), "3h = 180");
  EXPECT_EQ(Typed("4h"), "4 h = 240");
  EXPECT_EQ(Typed("90 min"), "2h = 120");
  EXPECT_EQ(Typed("5000"), "24h = 1440");
  EXPECT_EQ(Typed("99999999999999999999h"), "24h = 1440") << "no overflow";
  EXPECT_EQ(Typed("0"), "Automatic = 0");
  EXPECT_EQ(Typed("-25"), "Automatic = 0");
  EXPECT_EQ(Typed("h"), "none") << "the last span stays";
  EXPECT_EQ(Typed(""), "none");
  EXPECT_TRUE(TAppConfigCheck::SpanCharAccepted('7'));
  EXPECT_TRUE(TAppConfigCheck::SpanCharAccepted('H'));
  EXPECT_FALSE(TAppConfigCheck::SpanCharAccepted('x'));
  EXPECT_FALSE(TAppConfigCheck::SpanCharAccepted('-'));
}

TEST(AppConfigCheck, ManualAxesNeedMinBelowMaxAndHalfAKilometreOfDistance) {
  auto v = TAppConfigCheck::CheckValueAxis(10, 10);
  EXPECT_FALSE(v.Ok);
  EXPECT_EQ(v.Refusal, "Min value must be lower than the Max value!");
  EXPECT_TRUE(TAppConfigCheck::CheckValueAxis(-5, 10).Ok);

  auto d = TAppConfigCheck::CheckDistanceAxis(1, 1.4);
  EXPECT_FALSE(d.Ok);
  EXPECT_EQ(d.Refusal, "Difference between Min and Max Distance/Altitude must be 500m at least !");
  ASSERT_TRUE(d.CorrectedMax);
  EXPECT_DOUBLE_EQ(*d.CorrectedMax, 1.5);
  EXPECT_TRUE(TAppConfigCheck::CheckDistanceAxis(1, 1.5).Ok);
  EXPECT_TRUE(TAppConfigCheck::CheckDistanceAxis(0.1, 0.6).Ok) << "500 m in decimal kilometres";
  d = TAppConfigCheck::CheckDistanceAxis(2, 1);
  EXPECT_EQ(d.Refusal, "Min value must be lower than the Max value!");
  EXPECT_FALSE(d.CorrectedMax);
}

}  // namespace
}  // namespace OrlaqLidar
