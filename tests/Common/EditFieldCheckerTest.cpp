#include "Common/EditFieldChecker.h"

#include <gtest/gtest.h>

using namespace OrlaqLidar;

TEST(EditFieldChecker, WholeNumbersInRange) {
  TEditFieldChecker c(TFieldKind::Whole, 10, 3600);
  EXPECT_TRUE(c.Check("10").Ok);
  EXPECT_TRUE(c.Check(" 3600 ").Ok);
  EXPECT_EQ(c.Check("60").Value, 60);
  EXPECT_FALSE(c.Check("9").Ok);
  EXPECT_FALSE(c.Check("3601").Ok);
  EXPECT_EQ(c.Check("3601").Refusal, "The value must be between 10 and 3600");
  for (const char* bad : {"", "12.5", "1e3", "abc", "12a"}) {
    auto r = c.Check(bad);
    EXPECT_FALSE(r.Ok) << bad;
    EXPECT_EQ(r.Refusal, "Please enter a whole number between 10 and 3600") << bad;
  }
}

TEST(EditFieldChecker, DecimalNumbersTakeEitherSeparator) {
  TEditFieldChecker c(TFieldKind::Decimal, -50, 100);
  EXPECT_DOUBLE_EQ(c.Check("22.5").Value, 22.5);
  EXPECT_DOUBLE_EQ(c.Check("-12,25").Value, -12.25);
  EXPECT_TRUE(c.Check("-50").Ok);
  EXPECT_FALSE(c.Check("100.01").Ok);
  EXPECT_FALSE(c.Check("nan").Ok);
  EXPECT_FALSE(c.Check("inf").Ok);
  EXPECT_EQ(c.Check("x").Refusal, "Please enter a number between -50 and 100");
}
