// Replays every fuzz target's seeds, the inputs kept from its findings
// (tests/fuzz/regressions/<target>/) and a few hundred deterministic
// mutations of the seeds, so that what the fuzzers once found stays fixed
// in the ordinary test run. A broken property aborts with its reason on
// standard error, as under the fuzzer.
#define SKYVANE_FUZZ_NO_ENTRY
#include "tests/fuzz/airins_protocol.cpp"
#include "tests/fuzz/calibration_archive.cpp"
#include "tests/fuzz/calibration_files.cpp"
#include "tests/fuzz/definition_loader.cpp"
#include "tests/fuzz/export_pattern.cpp"
#include "tests/fuzz/lidar_protocol.cpp"
#include "tests/fuzz/lidar_replay.cpp"
#include "tests/fuzz/monitor_protocol.cpp"
#include "tests/fuzz/settings_file.cpp"
#include "tests/fuzz/skv2_reader.cpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace OrlaqLidar::Fuzz;

struct TTarget {
  const char* Name;
  int (*Run)(const uint8_t*, size_t);
  std::function<TSeeds()> Seeds;
};

const TTarget kTargets[] = {
    {"airins_protocol", AirinsProtocol::Run, AirinsProtocol::Seeds},
    {"calibration_archive", CalibrationArchive::Run, CalibrationArchive::Seeds},
    {"calibration_files", CalibrationFiles::Run, CalibrationFiles::Seeds},
    {"definition_loader", DefinitionLoader::Run,
     [] { return DefinitionLoader::Seeds(OrlaqLidar::Test::SourceDir()); }},
    {"export_pattern", ExportPattern::Run, ExportPattern::Seeds},
    {"lidar_protocol", LidarProtocol::Run, LidarProtocol::Seeds},
    {"lidar_replay", LidarReplay::Run, LidarReplay::Seeds},
    {"monitor_protocol", MonitorProtocol::Run, MonitorProtocol::Seeds},
    {"settings_file", SettingsFile::Run, SettingsFile::Seeds},
    {"skv2_reader", Skv2Reader::Run, Skv2SeedFiles},
};

class FuzzRegressionTest : public OrlaqLidar::Test::TSimulatedTime, public ::testing::WithParamInterface<TTarget> {
 protected:
  void Run(const std::string& bytes) { GetParam().Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }
};

TEST_P(FuzzRegressionTest, SeedsAreBuiltAndPass) {
  const TSeeds seeds = GetParam().Seeds();
  ASSERT_GE(seeds.size(), 1u);
  for (const auto& [name, bytes] : seeds) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(bytes.empty());
    Run(bytes);
  }
}

TEST_P(FuzzRegressionTest, KeptFindingsPass) {
  const fs::path folder = OrlaqLidar::Test::SourceDir() / "tests" / "fuzz" / "regressions" / GetParam().Name;
  std::error_code ec;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    Run(ReadFileBytes(file));
  }
}

TEST_P(FuzzRegressionTest, MutatedSeedsPass) {
  const TSeeds seeds = GetParam().Seeds();
  ASSERT_FALSE(seeds.empty());
  std::mt19937 rng(20260615);
  auto pick = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
  for (int i = 0; i < 150; ++i) {
    std::string b = seeds[pick(seeds.size())].second;
    for (int m = 1 + static_cast<int>(pick(3)); m > 0 && !b.empty(); --m) {
      switch (pick(4)) {
        case 0:
          b[pick(b.size())] ^= static_cast<char>(1 << pick(8));
          break;
        case 1:
          b.resize(pick(b.size()));
          break;
        case 2:
          b.insert(pick(b.size()), std::string(1 + pick(8), static_cast<char>(rng())));
          break;
        default:
          b.erase(pick(b.size()), 1 + pick(8));
          break;
      }
    }
    Run(b);
  }
  Run("");
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegressionTest, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<TTarget>& info) { return std::string(info.param.Name); });

}  // namespace
