#pragma once
// Benchmarks register themselves with a name; each prints its figures with Report.
#include <functional>
#include <string>
#include <vector>

namespace OrlaqLidar::Bench {

struct TBenchmark {
  std::string Name;
  std::function<bool()> Run;  // false on failure
};

std::vector<TBenchmark>& Registry();
void Report(const std::string& bench, const std::string& figure, double value, const std::string& unit);

struct TRegistrar {
  TRegistrar(std::string name, std::function<bool()> run) { Registry().push_back({std::move(name), std::move(run)}); }
};

}  // namespace OrlaqLidar::Bench
