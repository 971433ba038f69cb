// Runs under a German locale (ctest sets LC_ALL=de_DE.UTF-8 and the test
// main adopts it): numbers must still use ".".
#include <clocale>
#include <cstdio>

#include <gtest/gtest.h>

#include "Common/DateTime.h"
#include "Common/NumberFormat.h"
#include "Common/StringUtils.h"

using namespace OrlaqLidar;

TEST(Numbers, TheTestRunsUnderACommaLocale) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", 1.5);
  // ctest sets LC_ALL=de_DE.UTF-8; scripts/bootstrap installs the locale.
  ASSERT_EQ(std::string(buf), "1,5") << "the tests must run under the de_DE.UTF-8 locale";
  EXPECT_EQ(FormatFloat(1.5), "1.5");
  EXPECT_EQ(FormatFixed(1234.5678, 2), "1234.57");
}

TEST(Numbers, ParsingAcceptsPointAndCommaAndRejectsJunk) {
  EXPECT_DOUBLE_EQ(*TryParseDouble("12,5"), 12.5);
  EXPECT_DOUBLE_EQ(*TryParseDouble(" 12.5 "), 12.5);
  EXPECT_DOUBLE_EQ(*TryParseDouble("-1e-3"), -0.001);
  EXPECT_DOUBLE_EQ(*TryParseDouble("+023,4"), 23.4);
  EXPECT_FALSE(TryParseDouble("12.5V"));
  EXPECT_FALSE(TryParseDouble(""));
  EXPECT_FALSE(TryParseDouble("1.2.3"));
  EXPECT_EQ(*TryParseInt("-42"), -42);
  EXPECT_FALSE(TryParseInt("4.2"));
  EXPECT_FALSE(TryParseInt("2147483648"));
  EXPECT_EQ(FormatFloat(-0.00011), "-0.00011");
  EXPECT_EQ(*TryParseDouble(FormatFloat(0.1 + 0.2)), 0.1 + 0.2);
}

TEST(Numbers, StringHelpers) {
  EXPECT_TRUE(SameText("LIDAR_monitor", "lidar_MONITOR"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_EQ(SplitString("a,,b", ','), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Trim("\t x \r\n"), "x");
}

TEST(DateTime, ConvertsBetweenUnixAndDayCounts) {
  EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569.0);
  EXPECT_DOUBLE_EQ(DateTimeToUnix(25570.5), 86400.0 * 1.5);
  const TDateTime t = EncodeDateTime(2026, 12, 6, 21, 43, 53, 7);
  EXPECT_EQ(FormatDateTime(t), "2026-12-06 21:43:53.007");
  EXPECT_EQ(FormatDateTime(t, false), "2026-12-06 21:43:53");
  EXPECT_EQ(FormatDateTime(EncodeDateTime(1899, 12, 30)), "1899-12-30 00:00:00.000");
  // Just below midnight rounds to the next day, never to "24:00".
  EXPECT_EQ(FormatDateTime(EncodeDateTime(2024, 2, 29) - 0.1 / 86400000.0), "2024-02-29 00:00:00.000");
  const auto p = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999));
  EXPECT_EQ(p.Month, 2);
  EXPECT_EQ(p.Day, 29);
  EXPECT_EQ(p.Millisecond, 999);
}

TEST(Numbers, PictureFormats) {
  EXPECT_EQ(FormatPicture(3.14159, "0.00"), "3.14");
  EXPECT_EQ(FormatPicture(-3.14159, "0.00"), "-3.14");
  EXPECT_EQ(FormatPicture(2.5, "0.0#"), "2.5");
  EXPECT_EQ(FormatPicture(2.567, "0.0#"), "2.57");
  EXPECT_EQ(FormatPicture(0.5, "#.##"), ".5");
  EXPECT_EQ(FormatPicture(7, "000"), "007");
  EXPECT_EQ(FormatPicture(12345, "0.00E+00"), "1.23E+04");
  EXPECT_EQ(FormatPicture(0.00123, "0e-0"), "1e-3");
  EXPECT_EQ(FormatPicture(9.996, "0.00E+0"), "1.00E+1") << "the rounding carries into the exponent";
  EXPECT_EQ(FormatPicture(21.5, "0.0 'V'"), "21.5 V");
  EXPECT_EQ(FormatPicture(1234567.891, "#,##0.0"), "1234567.9") << "no thousands separator";
  EXPECT_EQ(FormatPicture(1.5, ""), "1.5");
}
