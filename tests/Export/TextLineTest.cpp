#include "Export/TextLine.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace OrlaqLidar;
using namespace OrlaqExport;

TEST(TextLine, NumberForms) {
  const std::pair<double, const char*> shorts[] = {
      {0, "0"},           {0.1, "0.1"},         {-3.25, "-3.25"},    {1.0 / 3, "0.33333334"},
      {1e6, "1000000"},   {123456789, "123456790"}, {1e9, "1e+09"},  {1e-4, "0.0001"},
      {2.5e-8, "2.5e-08"}, {1e-7 * 149896229.0, "14.989623"}};
  for (const auto& [v, text] : shorts) EXPECT_EQ(ShortFloat(v), text) << v;
  const std::pair<double, const char*> longs[] = {
      {1.0 / 3, "0.333333333333333"}, {0.1 + 0.2, "0.3"}, {41703.5, "41703.5"}, {1e20, "1e+20"}, {-0.25, "-0.25"}};
  for (const auto& [v, text] : longs) EXPECT_EQ(LongFloat(v), text) << v;
}

TEST(TextLine, DateForms) {
  const TDateTime t = EncodeDateTime(2014, 3, 5, 12, 0, 0, 5);
  EXPECT_EQ(ExportDate(t, 1), "2014-03-05T12:00:00.005");
  EXPECT_EQ(ExportDate(t, 2), "1394020800");
  EXPECT_EQ(ExportDate(t, 0), LongFloat(t));
  EXPECT_EQ(ExportDate(t, 0).substr(0, 12), "41703.500000");
  EXPECT_EQ(ExportDate(t, 9), ExportDate(t, 0));
  EXPECT_EQ(DateFormatName(0), "Day decimal");
  EXPECT_EQ(DateFormatName(1), "RFC3339");
  EXPECT_EQ(DateFormatName(2), "Epoch");
  EXPECT_EQ(DateFormatName(3), "Unknown");
}

TEST(TextLine, Quoting) {
  struct Case {
    const char* column;
    char delimiter;
    const char* expected;
  };
  const Case cases[] = {
      {"Lid,532", ',', "\"Lid,532\""}, {"Lid,532", ';', "Lid,532"},   {"a b", ' ', "\"a b\""},
      {"a b", ';', "\"a b\""},         {"a,b", ' ', "a,b"},           {"say \"hi\"", ';', "\"say \"\"hi\"\"\""},
      {"a\tb", ';', "\"a\tb\""},       {"", ';', ""},                 {"x|y", '|', "\"x|y\""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteColumn(c.column, c.delimiter), c.expected) << c.column;
  EXPECT_EQ(TTextLine("EVENT", ' ').Int(0).Text("USN").Text("two words").Finish(), "EVENT 0 USN \"two words\"\r\n");
}

TEST(TextLine, HeadingNorthIs360) {
  const std::pair<double, double> cases[] = {{0, 360}, {359.5, 359.5}, {0.5, 360.5}, {180, 180}};
  for (const auto& [h, expected] : cases) EXPECT_DOUBLE_EQ(ExportHeading(h), expected) << h;
}
