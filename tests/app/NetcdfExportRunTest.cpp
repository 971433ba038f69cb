// A simulated headless run with the automatic export in the network's raw
// format: the file lists with ncdump, and every profile holds the counts
// and laser shots of the shots the run recorded in its minute.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/LidarData.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/app/ProgramRuns.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

struct TSums {
  double Counts = 0;
  double Shots = 0;
};

// Per channel and UTC minute, what the recording holds.
std::map<std::pair<int, long long>, TSums> RecordedSums(const fs::path& file) {
  TApplicationConfig settings;
  std::map<std::pair<int, long long>, TSums> sums;
  TLidFileAccess access(file, settings);
  EXPECT_EQ(access.OpenForReading(), 0) << file;
  TIniFile ini;
  ini.LoadFromText(access.DefinitionText());
  EXPECT_TRUE(settings.LidarConfig.Load(ini));
  access.OnData = [&](int channel, const uint8_t* data, size_t size, TDateTime time) {
    const TChannelConfig* c = settings.LidarConfig.FindChannel(channel);
    if (!c || c->Type() != TChannelType::Lidar) return;
    TLidarData shot(c, data, size);
    double shots = 0;
    if (!shot.IsValid() || !shot.FindByCode("SHOOT", shots) || shots <= 0) return;
    TSums& s = sums[{channel, static_cast<long long>(std::floor(DateTimeToUnix(time) / 60 + 1e-9))}];
    s.Shots += shots;
    int gate = 0;
    for (bool more = shot.FirstDoor(); more && gate < c->DoorsUsed; more = shot.NextDoor(), ++gate)
      s.Counts += static_cast<double>(shot.GetDoor());
  };
  while (access.ReadBlocks(1000) > 0) {
  }
  return sums;
}

}  // namespace

TEST(NetcdfExportRunTest, AutomaticSccExportHoldsTheRecordedCountsOfEveryProfile) {
  OrlaqLidar::Test::TProgramRuns runs;
  const fs::path model = runs.QuickDefinition();
  std::ofstream(runs.Settings) << "[Skyvane]\nAutoExport=1\n[Skyvane\\Export]\nFolder=" << (runs.Dir / "scc").string()
                               << "\nType=SCC\nSccStation=xy\nSccChannelIDs=1:101,2:102,3:103\nProcessings=R\n"
                                  "ProfileTime=60\n";
  const auto run = runs.Run(OrlaqLidar::Test::BinDir() / "skyvane",
                            {"-SIMULATE", "-HEADLESS", "-DURATION=60", "-MODEL", model.string()}, 180000, "record");
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const auto recorded = runs.RecordedFiles();
  ASSERT_EQ(recorded.size(), 1u);
  const auto sums = RecordedSums(recorded.front());

  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(runs.Dir / "scc")) files.push_back(e.path());
  ASSERT_FALSE(files.empty()) << run.Err;
  // The last profile ends when the run stops the laser, and the recorder
  // and the export do not stop at the same shot: that profile is only
  // checked for holding shots.
  std::sort(files.begin(), files.end());
  size_t rows = 0;
  for (const fs::path& f : files) {
    ASSERT_EQ(f.extension(), ".nc") << f;
    FILE* p = ::popen(("ncdump -h " + f.string()).c_str(), "r");
    std::string header;
    char buf[4096];
    for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) header.append(buf, n);
    if (p) ::pclose(p);
    for (const char* line : {"channels = 3 ;", "points = 2048 ;", "double Raw_Lidar_Data(time, channels, points) ;",
                             ":Measurement_ID = "})
      EXPECT_NE(header.find(line), std::string::npos) << line << "\n" << header;

    int id = -1, v = -1;
    ASSERT_EQ(nc_open(f.c_str(), NC_NOWRITE, &id), NC_NOERR);
    size_t times = 0, points = 0;
    int dim = -1;
    nc_inq_dimid(id, "time", &dim);
    nc_inq_dimlen(id, dim, &times);
    nc_inq_dimid(id, "points", &dim);
    nc_inq_dimlen(id, dim, &points);
    std::vector<double> raw(times * 3 * points);
    std::vector<int> shots(times * 3), starts(times);
    nc_inq_varid(id, "Raw_Lidar_Data", &v);
    ASSERT_EQ(nc_get_var_double(id, v, raw.data()), NC_NOERR);
    nc_inq_varid(id, "Laser_Shots", &v);
    nc_get_var_int(id, v, shots.data());
    nc_inq_varid(id, "Raw_Data_Start_Time", &v);
    nc_get_var_int(id, v, starts.data());
    char date[9] = {}, time[7] = {};
    nc_get_att_text(id, NC_GLOBAL, "RawData_Start_Date", date);
    nc_get_att_text(id, NC_GLOBAL, "RawData_Start_Time_UT", time);
    nc_close(id);
    const int ymd = std::atoi(date), hms = std::atoi(time);
    const TDateTime start =
        EncodeDateTime(ymd / 10000, ymd / 100 % 100, ymd % 100, hms / 10000, hms / 100 % 100, hms % 100);
    for (size_t r = 0; r < times; ++r, ++rows) {
      const long long minute = static_cast<long long>(std::floor((DateTimeToUnix(start) + starts[r]) / 60 + 1e-9));
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        // Gates beyond a channel's own (the 1064 nm channel has fewer) hold the fill value.
        for (size_t g = 0; g < points; ++g) {
          const double value = raw[(r * 3 + static_cast<size_t>(c)) * points + g];
          if (value != NC_FILL_DOUBLE) sum += value;
        }
        const auto it = sums.find({c + 1, minute});
        ASSERT_NE(it, sums.end()) << f << " row " << r << " channel " << c + 1;
        const int profileShots = shots[r * 3 + static_cast<size_t>(c)];
        if (f == files.back() && r + 1 == times) {
          EXPECT_GT(profileShots, 0);
          EXPECT_GT(sum, 0);
          continue;
        }
        EXPECT_EQ(sum, it->second.Counts) << f << " row " << r << " channel " << c + 1;
        EXPECT_EQ(profileShots, it->second.Shots) << f << " row " << r;
      }
    }
  }
  EXPECT_GE(rows, 2u);  // a minute of shots crosses a minute boundary
}
