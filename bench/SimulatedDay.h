#pragma once
// The simulated day the export benchmarks read: a two-channel instrument
// (2048 gates of 4 bytes, one shot a second per channel) recorded as 24
// hourly files, written once into a cache folder and reused; and the run
// of a child program with its time and peak memory.
#include <filesystem>
#include <string>
#include <vector>

namespace OrlaqLidar::Bench {

struct TChild {
  int ExitCode = -1;
  double Seconds = 0;
  double PeakRssMb = 0;
};

// The cache folder of the day (with its definition "Bench2.ini").
std::filesystem::path SimulatedDayFolder();
// The day's files in time order, written first when the cache lacks them.
bool SimulatedDay(const std::filesystem::path& folder, std::vector<std::filesystem::path>& files);
// Runs a program (args[0], a path) in workDir with only env, output discarded.
TChild RunProcess(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                  const std::vector<std::string>& env);

}  // namespace OrlaqLidar::Bench
