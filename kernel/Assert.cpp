#include "kernel/Assert.h"

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

void AssertionFailed(const char* expression, const char* unit, int line) {
  const std::string text =
      std::string(expression) + " (" + unit + ", line " + std::to_string(line) + ")";
  Log("Assertion failed: " + text);
  throw EAssertionFailed(text);
}

}  // namespace OrlaqLidar
