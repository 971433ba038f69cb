// batch_export: one simulated day of a two-channel instrument (2048 gates of
// 4 bytes, one shot a second per channel: 24 hourly files, about 1.4 GB)
// exported by the real program ("skyvane -EXPORT", "OSBAR2", 60 s profiles,
// monitoring on) against reading the same files with cat, page cache warm
// for both. The day is written once into a cache folder and reused.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/SimulatedDay.h"

namespace OrlaqLidar::Bench {
namespace {

namespace fs = std::filesystem;

bool RunBatchExportBench() {
  std::vector<fs::path> files;
  const fs::path cache = SimulatedDayFolder();
  if (!SimulatedDay(cache, files)) {
    std::fprintf(stderr, "batch_export: cannot write the simulated day into %s\n", cache.c_str());
    return false;
  }
  std::error_code ec;
  double bytes = 0;
  for (const auto& f : files) bytes += static_cast<double>(fs::file_size(f, ec));

  const fs::path work = fs::temp_directory_path() / ("skyvane-bench-export-" + std::to_string(::getpid()));
  fs::create_directories(work, ec);
  struct TCleanup {
    fs::path Folder;
    ~TCleanup() {
      std::error_code ignored;
      fs::remove_all(Folder, ignored);
    }
  } cleanup{work};
  std::ofstream(work / "export.ini") << "[Export]\nFolder=" << (work / "out").string()
                                     << "\nProcessings=OSBAR2\nProfileTime=60\nLogMonitoring=1\nMinutesSlice=60\n";

  const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "skyvane";
  std::vector<std::string> exportArgs = {program.string(), "-EXPORT", "-QUIET", "-EXPCONFIG", (work / "export.ini").string(),
                                         "-MODEL", (cache / "Bench2.ini").string()};
  std::vector<std::string> catArgs = {"/bin/cat"};
  for (const auto& f : files) {
    exportArgs.push_back(f.string());
    catArgs.push_back(f.string());
  }
  const std::vector<std::string> env = {"HOME=" + work.string(), "SKYVANE_SETTINGS=" + (work / "Skyvane.ini").string(),
                                        "XDG_RUNTIME_DIR=" + work.string(), "PATH=/usr/bin:/bin"};

  RunProcess(catArgs, work, env);  // into the page cache
  const TChild cat = RunProcess(catArgs, work, env);
  const TChild run = RunProcess(exportArgs, work, env);
  if (cat.ExitCode != 0 || run.ExitCode != 0) {
    std::fprintf(stderr, "batch_export: cat exited %d, skyvane -EXPORT exited %d\n", cat.ExitCode, run.ExitCode);
    return false;
  }
  const double mb = bytes / 1e6;
  Report("batch_export", "input_mb", mb, "MB");
  Report("batch_export", "input_mb_s", mb / run.Seconds, "MB/s");
  Report("batch_export", "cat_mb_s", mb / cat.Seconds, "MB/s");
  Report("batch_export", "ratio", cat.Seconds / run.Seconds, "x cat");
  Report("batch_export", "peak_rss_mb", run.PeakRssMb, "MB");
  return true;
}

const TRegistrar registrar("batch_export", RunBatchExportBench);

}  // namespace
}  // namespace OrlaqLidar::Bench
