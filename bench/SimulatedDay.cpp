#include "bench/SimulatedDay.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"

namespace OrlaqLidar::Bench {

namespace fs = std::filesystem;

namespace {

constexpr int kGates = 2048;
constexpr int kInfoBytes = 16;

std::string Definition() {
  std::string text =
      "[General]\nName=Bench two channels\nCode=BENCH2\n[Instruments]\nAirins=0\n"
      "[ChannelGroup1]\nGroupID=1\nHeatingTime=0\nPeriodMin=0\nLidarTimeOut=2000\n";
  for (int id : {1, 2})
    text += "[Channel" + std::to_string(id) + "]\nRecordID=" + std::to_string(id) + "\nGroupID=1\nName=532 " +
            (id == 1 ? "parallel" : "perpendicular") + "\nWaveLength=532\nFWHM=0.5\nPolarization=" +
            (id == 1 ? "/" : "X") + "\nUSB=BENCH LIDAR " + std::to_string(id) +
            "\nProtocol=LIDAR\nProtoOpt=30000,HW\nTimeOut=2000\nBufferLength=16464\nHasLaserCmd=" +
            (id == 1 ? "2" : "0") +
            "\nDoorsCount=2048\nDoorsUsed=2048\nDoorsByte=4\nDoorsTime=100\nOffsetTime=0\nLaserPulse=1000\n"
            "InfoBytes=16\nCH1=NAME:Shots,O:0,B:32,S:0,CODE:SHOOT,FMT:0\n"
            "CH2=NAME:Detector temp.,U:degC,O:4,B:16,S:0,DIV:100,FMT:0.0,CODE:TDET\n";
  return text;
}

// Big-endian counts of a clear-sky return over a sky background, then the
// information bytes: 1000 laser shots and a detector temperature.
std::vector<uint8_t> Shot(int channel, int second) {
  std::vector<uint8_t> b(static_cast<size_t>(kGates) * 4 + kInfoBytes);
  for (int g = 0; g < kGates; ++g) {
    const double r = 1.0 + g / 40.0;
    const auto c = static_cast<uint32_t>(200 + (channel == 1 ? 90000.0 : 9000.0) / (r * r) + (second + g) % 7);
    for (int k = 0; k < 4; ++k) b[static_cast<size_t>(g) * 4 + static_cast<size_t>(k)] = static_cast<uint8_t>(c >> (24 - 8 * k));
  }
  uint8_t* info = b.data() + static_cast<size_t>(kGates) * 4;
  info[2] = 0x03, info[3] = 0xE8;  // 1000 shots
  info[4] = 0x09, info[5] = 0xC4;  // 25.00 degC
  return b;
}

}  // namespace

fs::path SimulatedDayFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  const fs::path base = xdg && *xdg ? fs::path(xdg) : fs::path(home && *home ? home : "/tmp") / ".cache";
  return base / "skyvane-bench" / "batch_export-v1";
}

bool SimulatedDay(const fs::path& folder, std::vector<fs::path>& files) {
  const fs::path done = folder / "complete";
  files.clear();
  for (int h = 0; h < 24; ++h) {
    char name[64];
    std::snprintf(name, sizeof name, "LID_BENCH002_20260615_%02d00.skv2", h);
    files.push_back(folder / name);
  }
  std::error_code ec;
  if (fs::exists(done, ec)) return true;
  fs::remove_all(folder, ec);
  fs::create_directories(folder, ec);
  std::ofstream(folder / "Bench2.ini", std::ios::binary) << Definition();
  TApplicationConfig settings;
  settings.DefinitionText = Definition();
  TIniFile ini;
  ini.LoadFromText(settings.DefinitionText);
  if (!settings.LidarConfig.Load(ini)) return false;
  TLidFileAccess::TInstrumentInfo info;
  info.SerialNumber = "BENCH002";
  info.LidarChannels = {{1, "FW 100abc"}, {2, "FW 100abc"}};
  std::printf("bench: writing the simulated day into %s\n", folder.c_str());
  std::fflush(stdout);
  const TDateTime day = 46188.0;  // 2026-06-15
  for (int h = 0; h < 24; ++h) {
    TLidFileAccess file(files[static_cast<size_t>(h)], settings);
    if (file.OpenForWriting(&info) != 0) return false;
    for (int s = 0; s < 3600; ++s) {
      const int second = h * 3600 + s;
      for (int channel : {1, 2}) {
        const auto shot = Shot(channel, second);
        const TDateTime t = day + (second + 0.1 * channel) / SecondsPerDay;
        if (file.WriteShoot(channel, t, shot.data(), shot.size()) < 0) return false;
      }
    }
    file.Close();
  }
  std::ofstream(done) << "ok\n";
  return true;
}

TChild RunProcess(const std::vector<std::string>& args, const fs::path& workDir, const std::vector<std::string>& env) {
  std::vector<std::string> a = args;
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> e = env;
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  TChild result;
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 1);
    ::dup2(devnull, 2);
    if (::chdir(workDir.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid < 0) return result;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.PeakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  return result;
}

TExportBenchRun::TExportBenchRun(const std::string& name) : cache_(SimulatedDayFolder()) {
  if (!SimulatedDay(cache_, Files)) {
    std::fprintf(stderr, "%s: cannot write the simulated day into %s\n", name.c_str(), cache_.c_str());
    return;
  }
  std::error_code ec;
  double bytes = 0;
  for (const auto& f : Files) bytes += static_cast<double>(fs::file_size(f, ec));
  InputMb = bytes / 1e6;
  Work = fs::temp_directory_path() / ("skyvane-bench-" + name + "-" + std::to_string(::getpid()));
  fs::create_directories(Work, ec);
  env_ = {"HOME=" + Work.string(), "SKYVANE_SETTINGS=" + (Work / "Skyvane.ini").string(),
          "XDG_RUNTIME_DIR=" + Work.string(), "PATH=/usr/bin:/bin"};
  ready_ = true;
}

TExportBenchRun::~TExportBenchRun() {
  std::error_code ignored;
  if (!Work.empty()) fs::remove_all(Work, ignored);
}

TChild TExportBenchRun::Export(const std::string& name, const std::string& keys) const {
  const fs::path ini = Work / (name + ".ini");
  std::ofstream(ini) << "[Export]\nFolder=" << (Work / name).string() << "\n" << keys;
  std::error_code ec;
  fs::remove_all(Work / name, ec);
  const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "skyvane";
  std::vector<std::string> args = {program.string(), "-EXPORT", "-QUIET", "-EXPCONFIG", ini.string(),
                                   "-MODEL", (cache_ / "Bench2.ini").string()};
  for (const auto& f : Files) args.push_back(f.string());
  return RunProcess(args, Work, env_);
}

TChild TExportBenchRun::Cat() const {
  std::vector<std::string> args = {"/bin/cat"};
  for (const auto& f : Files) args.push_back(f.string());
  return RunProcess(args, Work, env_);
}

std::vector<TChild> TExportBenchRun::Fastest(const std::vector<std::function<TChild()>>& runs) const {
  std::vector<TChild> best(runs.size());
  for (int round = 0; round < Rounds; ++round)
    for (size_t i = 0; i < runs.size(); ++i) {
      const TChild c = runs[i]();
      if (c.ExitCode != 0) {
        best[i] = c;
        return best;
      }
      if (round == 0 || c.Seconds < best[i].Seconds) best[i] = c;
    }
  return best;
}

}  // namespace OrlaqLidar::Bench
