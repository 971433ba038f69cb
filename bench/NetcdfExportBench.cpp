// netcdf_export: the simulated day of batch_export exported by the real
// program ("skyvane -EXPORT", 60 s profiles) as hourly SCC raw files
// ("R"), as one CF daily file ("OSBR2") and as text ("OSBR2", hourly
// files, monitoring off) in the same run, page cache warm, fastest of a
// few interleaved rounds. The ratio is
// the text export's time over the mean time of the two NetCDF exports:
// 1 or more means the NetCDF exports are not slower.
#include <unistd.h>

#include <algorithm>
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

double FolderMb(const fs::path& folder) {
  double bytes = 0;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file()) bytes += static_cast<double>(e.file_size());
  return bytes / 1e6;
}

bool RunNetcdfExportBench() {
  const TExportBenchRun day("netcdf_export");
  if (!day.Ready()) return false;
  const auto run = [&](const std::string& name, const std::string& keys) {
    return day.Export(name, "ProfileTime=60\nMinutesSlice=60\nLogMonitoring=0\n" + keys);
  };
  day.Cat();  // into the page cache
  const auto best =
      day.Fastest({[&] { return run("text", "Type=Text\nProcessings=OSBR2\n"); },
                   [&] { return run("scc", "Type=SCC\nProcessings=R\nSccStation=bn\nSccChannelIDs=1:1001,2:1002\n"); },
                   [&] { return run("cf", "Type=CF\nProcessings=OSBR2\nInstitution=Bench\n"); }});
  const TChild& text = best[0];
  const TChild& scc = best[1];
  const TChild& cf = best[2];
  if (text.ExitCode != 0 || scc.ExitCode != 0 || cf.ExitCode != 0) {
    std::fprintf(stderr, "netcdf_export: skyvane -EXPORT exited %d (text), %d (SCC), %d (CF)\n", text.ExitCode,
                 scc.ExitCode, cf.ExitCode);
    return false;
  }
  const double mb = day.InputMb;
  const fs::path& work = day.Work;
  const double netcdf = (scc.Seconds + cf.Seconds) / 2;
  Report("netcdf_export", "input_mb", mb, "MB");
  Report("netcdf_export", "input_mb_s", mb / netcdf, "MB/s");
  Report("netcdf_export", "scc_input_mb_s", mb / scc.Seconds, "MB/s");
  Report("netcdf_export", "cf_input_mb_s", mb / cf.Seconds, "MB/s");
  Report("netcdf_export", "text_input_mb_s", mb / text.Seconds, "MB/s");
  Report("netcdf_export", "ratio", text.Seconds / netcdf, "x text");
  Report("netcdf_export", "scc_output_mb", FolderMb(work / "scc"), "MB");
  Report("netcdf_export", "cf_output_mb", FolderMb(work / "cf"), "MB");
  Report("netcdf_export", "text_output_mb", FolderMb(work / "text"), "MB");
  Report("netcdf_export", "peak_rss_mb", std::max(scc.PeakRssMb, cf.PeakRssMb), "MB");
  return true;
}

const TRegistrar registrar("netcdf_export", RunNetcdfExportBench);

}  // namespace
}  // namespace OrlaqLidar::Bench
