#include <clocale>
#include <locale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // Adopt the locale of the environment (de_DE under ctest) for C and C++.
  std::setlocale(LC_ALL, "");
  try {
    std::locale::global(std::locale(""));
  } catch (...) {
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
