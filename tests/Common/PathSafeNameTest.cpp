#include "Common/PathSafeName.h"

#include <gtest/gtest.h>

using namespace OrlaqLidar;

TEST(PathSafeName, NothingAnInstrumentReportsCanNameAnotherFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"SN000042", "SN000042"},   {"LS-26_10.4", "LS-26_10.4"}, {"../x/y", ".._x_y"},
      {"..", "__"},               {".", "_"},                   {"...", "___"},
      {"a\\..\\b", "a_.._b"},     {"C:x", "C_x"},               {"two words", "two_words"},
      {"\xC3\xA9t\xC3\xA9", "__t__"}, {"", ""},
  };
  for (const auto& [raw, safe] : cases) EXPECT_EQ(PathSafeName(raw), safe) << raw;
}
