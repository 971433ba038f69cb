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

// The font library keeps its configuration cache for the life of the
// process; the leak checker of the sanitised builds would report it in
// every test that draws text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
