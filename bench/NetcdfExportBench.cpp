// netcdf_export: the simulated day of batch_export exported by the real
// program ("skyvane -EXPORT", 60 s profiles) as hourly SCC raw files
// ("R"), as one CF daily file ("OSBR2") and as text ("OSBR2", hourly
// files, monitoring off) in the same run, page cache warm. The ratio is
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
  std::vector<fs::path> files;
  const fs::path cache = SimulatedDayFolder();
  if (!SimulatedDay(cache, files)) {
    std::fprintf(stderr, "netcdf_export: cannot write the simulated day into %s\n", cache.c_str());
    return false;
  }
  std::error_code ec;
  double bytes = 0;
  for (const auto& f : files) bytes += static_cast<double>(fs::file_size(f, ec));

  const fs::path work = fs::temp_directory_path() / ("skyvane-bench-netcdf-" + std::to_string(::getpid()));
  fs::create_directories(work, ec);
  struct TCleanup {
    fs::path Folder;
    ~TCleanup() {
      std::error_code ignored;
      fs::remove_all(Folder, ignored);
    }
  } cleanup{work};

  const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "skyvane";
  const std::vector<std::string> env = {"HOME=" + work.string(), "SKYVANE_SETTINGS=" + (work / "Skyvane.ini").string(),
                                        "XDG_RUNTIME_DIR=" + work.string(), "PATH=/usr/bin:/bin"};
  const auto run = [&](const std::string& name, const std::string& keys) {
    const fs::path ini = work / (name + ".ini");
    std::ofstream(ini) << "[Export]\nFolder=" << (work / name).string()
                       << "\nProfileTime=60\nMinutesSlice=60\nLogMonitoring=0\n" << keys;
    std::vector<std::string> args = {program.string(), "-EXPORT", "-QUIET", "-EXPCONFIG", ini.string(),
                                     "-MODEL", (cache / "Bench2.ini").string()};
    for (const auto& f : files) args.push_back(f.string());
    return RunProcess(args, work, env);
  };

  std::vector<std::string> catArgs = {"/bin/cat"};
  for (const auto& f : files) catArgs.push_back(f.string());
  RunProcess(catArgs, work, env);  // into the page cache
  const TChild text = run("text", "Type=Text\nProcessings=OSBR2\n");
  const TChild scc = run("scc", "Type=SCC\nProcessings=R\nSccStation=bn\nSccChannelIDs=1:1001,2:1002\n");
  const TChild cf = run("cf", "Type=CF\nProcessings=OSBR2\nInstitution=Bench\n");
  if (text.ExitCode != 0 || scc.ExitCode != 0 || cf.ExitCode != 0) {
    std::fprintf(stderr, "netcdf_export: skyvane -EXPORT exited %d (text), %d (SCC), %d (CF)\n", text.ExitCode,
                 scc.ExitCode, cf.ExitCode);
    return false;
  }
  const double mb = bytes / 1e6;
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
