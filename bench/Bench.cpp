#include "bench/Bench.h"

#include <cstdio>

namespace OrlaqLidar::Bench {

std::vector<TBenchmark>& Registry() {
  static std::vector<TBenchmark> list;
  return list;
}

void Report(const std::string& bench, const std::string& figure, double value, const std::string& unit) {
  std::printf("%s.%s = %.3f %s\n", bench.c_str(), figure.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

}  // namespace OrlaqLidar::Bench
