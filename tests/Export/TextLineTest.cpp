#include "Export/TextLine.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

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

// The significant digits of a number's text: no sign, point, exponent, or
// leading and trailing zeros.
std::string Digits(std::string_view text) {
  std::string digits;
  for (const char c : text.substr(0, text.find('e')))
    if (c >= '0' && c <= '9' && !(digits.empty() && c == '0')) digits += c;
  return digits.substr(0, digits.find_last_not_of('0') + 1);
}

TEST(TextLine, ShortFloatIsTheShortestTextThatReadsBack) {
  // A spread of bit patterns over every exponent, both signs and subnormals;
  // the standard library's scientific form holds the shortest digits.
  for (uint64_t bits = 1; bits < (1ull << 32); bits += 4093) {
    const float f = std::bit_cast<float>(static_cast<uint32_t>(bits));
    if (!std::isfinite(f)) continue;
    const std::string text = ShortFloat(f);
    float back = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_TRUE(parsed.ec == std::errc() && parsed.ptr == text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<uint32_t>(back), std::bit_cast<uint32_t>(f)) << text;
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, f, std::chars_format::scientific).ptr;
    ASSERT_EQ(Digits(text), Digits(std::string_view(sci, static_cast<size_t>(end - sci)))) << text;
  }
  EXPECT_EQ(ShortFloat(-0.0), "0");
  EXPECT_EQ(ShortFloat(1e-45), "1e-45");
  EXPECT_EQ(ShortFloat(-3.4028235e38), "-3.4028235e+38");
  EXPECT_EQ(ShortFloat(1e39), "inf");
  EXPECT_EQ(ShortFloat(std::nan("")), "nan");
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
