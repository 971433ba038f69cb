#pragma once
// The simulated day the export benchmarks read: a two-channel instrument
// (2048 gates of 4 bytes, one shot a second per channel) recorded as 24
// hourly files, written once into a cache folder and reused; and the run
// of a child program with its time and peak memory.
#include <filesystem>
#include <functional>
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
// What an export benchmark works on: the day's files and their size, a
// private work folder (removed with the object) with the environment of
// a run that touches nothing of the user's, and the program beside the
// benchmark.
class TExportBenchRun {
 public:
  explicit TExportBenchRun(const std::string& name);
  ~TExportBenchRun();
  TExportBenchRun(const TExportBenchRun&) = delete;
  TExportBenchRun& operator=(const TExportBenchRun&) = delete;

  // False, with the reason printed, when the day cannot be written.
  bool Ready() const { return ready_; }
  // skyvane -EXPORT -QUIET with the export settings "[Export]" + keys
  // written as <work>/<name>.ini, on the day's definition and files, into
  // an emptied <work>/<name> (a daily file would otherwise be continued).
  TChild Export(const std::string& name, const std::string& keys) const;
  // cat of the day's files into nothing.
  TChild Cat() const;
  // The shared machine is noisy: each of the runs is repeated, interleaved
  // with the others so that a busy moment hits them alike, and the fastest
  // of each is kept. A failed run is returned at once.
  static constexpr int Rounds = 3;
  std::vector<TChild> Fastest(const std::vector<std::function<TChild()>>& runs) const;

  std::vector<std::filesystem::path> Files;
  double InputMb = 0;
  std::filesystem::path Work;

 private:
  bool ready_ = false;
  std::filesystem::path cache_;
  std::vector<std::string> env_;
};

// Runs a program (args[0], a path) in workDir with only env, output discarded.
TChild RunProcess(const std::vector<std::string>& args, const std::filesystem::path& workDir,
                  const std::vector<std::string>& env);

}  // namespace OrlaqLidar::Bench
