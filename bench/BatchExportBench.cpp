// batch_export: one simulated day of a two-channel instrument (2048 gates of
// 4 bytes, one shot a second per channel: 24 hourly files, about 1.4 GB)
// exported by the real program ("skyvane -EXPORT", "OSBAR2", 60 s profiles,
// monitoring on) against reading the same files with cat, page cache warm
// for both, fastest of a few interleaved rounds. The day is written once into a cache folder and reused.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/SimulatedDay.h"

namespace OrlaqLidar::Bench {
namespace {

bool RunBatchExportBench() {
  const TExportBenchRun day("batch_export");
  if (!day.Ready()) return false;
  day.Cat();  // into the page cache
  const auto best = day.Fastest(
      {[&] { return day.Cat(); },
       [&] { return day.Export("out", "Processings=OSBAR2\nProfileTime=60\nLogMonitoring=1\nMinutesSlice=60\n"); }});
  const TChild& cat = best[0];
  const TChild& run = best[1];
  if (cat.ExitCode != 0 || run.ExitCode != 0) {
    std::fprintf(stderr, "batch_export: cat exited %d, skyvane -EXPORT exited %d\n", cat.ExitCode, run.ExitCode);
    return false;
  }
  const double mb = day.InputMb;
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
