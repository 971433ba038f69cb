// The NetCDF exports driven through the export manager by synthetic shots
// whose counts are known: what the files hold read back through the
// library, their layout as ncdump shows it, continuing a file after a
// restart or a crash, and the same files under another locale.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Export/CfExport.h"
#include "Export/ExportManager.h"
#include "Export/SccExport.h"
#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"
#include "tests/kernel/processing/ProcessingFixture.h"

using namespace OrlaqLidar;
using namespace OrlaqExport;
using OrlaqLidar::Test::At;
namespace fs = std::filesystem;

namespace {

constexpr int Gates = 4;

// Values and attributes of a file, read through the library.
class TReader {
 public:
  explicit TReader(const fs::path& p) { ok_ = nc_open(p.c_str(), NC_NOWRITE, &id_) == NC_NOERR; }
  ~TReader() {
    if (ok_) nc_close(id_);
  }
  bool Ok() const { return ok_; }
  size_t Dim(const char* name) const {
    int d = -1;
    size_t n = 0;
    EXPECT_EQ(nc_inq_dimid(id_, name, &d), NC_NOERR) << name;
    nc_inq_dimlen(id_, d, &n);
    return n;
  }
  std::vector<double> Doubles(const char* name) const {
    int v = -1;
    EXPECT_EQ(nc_inq_varid(id_, name, &v), NC_NOERR) << name;
    size_t n = 1;
    int dims[NC_MAX_VAR_DIMS], ndims = 0;
    nc_inq_var(id_, v, nullptr, nullptr, &ndims, dims, nullptr);
    for (int i = 0; i < ndims; ++i) {
      size_t len = 0;
      nc_inq_dimlen(id_, dims[i], &len);
      n *= len;
    }
    std::vector<double> values(n);
    if (n) {
      EXPECT_EQ(nc_get_var_double(id_, v, values.data()), NC_NOERR) << name;
    }
    return values;
  }
  std::string Text(const char* name) const {
    size_t n = 0;
    if (nc_inq_attlen(id_, NC_GLOBAL, name, &n) != NC_NOERR) return "<none>";
    std::string s(n, '\0');
    nc_get_att_text(id_, NC_GLOBAL, name, s.data());
    return s;
  }
  int Deflate(const char* name) const {
    int v = -1, shuffle = 0, deflate = 0, level = 0;
    nc_inq_varid(id_, name, &v);
    nc_inq_var_deflate(id_, v, &shuffle, &deflate, &level);
    return deflate ? level : 0;
  }

 private:
  int id_ = -1;
  bool ok_ = false;
};

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

class NetcdfExportTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  NetcdfExportTest() {
    for (int id : {1, 2, 3}) {
      settings.LidarConfig.Channels.push_back(OrlaqLidar::Test::MakeLidarChannel(id, Gates, true));
      settings.Setup.Calibrations.push_back(std::make_unique<TCalibration>(id, TChannelType::Lidar, Gates));
    }
    settings.Setup.SerialNumber = "SN7";
    settings.Setup.LatitudeBase = 45.5;
    settings.Setup.AltitudeBase = 120;
    config.Folder = (dir / "exp").string();
    config.Type = "SCC";
    config.MinutesSlice = 60;
    config.SccStation = "xy";
    config.SccChannelIDs = "1:101, 2:102";  // channel 3 has none
    config.Processing = TProcessingSetup(TProcessingSetup::FromCode("R"), 60);
    Clock.SetNow(At(12, 0, 0));
  }

  bool Start() {
    parameters = TExportParameters(config);
    manager = std::make_unique<TExportManager>(settings, feed);
    return manager->Start(&parameters);
  }
  void Stop() {
    manager->DataManager()->Flush();
    manager.reset();
  }

  // A shot of every channel: gate i counts base + i + 10 * channel.
  void Shots(TDateTime t, unsigned base, unsigned laserShots) {
    for (int id : {1, 2, 3}) {
      std::vector<uint8_t> b;
      for (int i = 0; i < Gates; ++i) {
        const unsigned c = base + static_cast<unsigned>(i + 10 * id);
        b.insert(b.end(), {static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)});
      }
      b.insert(b.end(), {static_cast<uint8_t>(laserShots >> 8), static_cast<uint8_t>(laserShots)});
      feed->DispatchRecord(id, b.data(), static_cast<int>(b.size()), t);
    }
  }

  fs::path File(const std::string& name) const { return dir / "exp" / name; }
  // Four shots over two profiles of 10:00, then the 10:00 file read back.
  void ExpectFirstTwoProfiles();

  OrlaqLidar::Test::TTempDir dir;
  TApplicationConfig settings;
  OrlaqLidar::Test::TTestSource source;
  OrlaqLidar::Test::TTestSource* feed = &source;
  TExportConfig config;
  TExportParameters parameters;
  std::unique_ptr<TExportManager> manager;
};

}  // namespace

TEST_F(NetcdfExportTest, SccHoldsTheSummedCountsShotsAndSecondsOfEveryProfile) {
  ASSERT_TRUE(Start()) << manager->StartError();
  ExpectFirstTwoProfiles();
}

// An export of recorded files syncs once a second: what it keeps back
// between syncs must still reach every file it leaves.
TEST_F(NetcdfExportTest, AnExportOfRecordingsLeavesEveryFileComplete) {
  OrlaqLidar::Test::TTestSource replay("Replay", true);
  feed = &replay;
  ASSERT_TRUE(Start()) << manager->StartError();
  Shots(At(9, 58, 0), 1, 10);  // the first profile is synced at once
  Shots(At(9, 59, 0), 1, 10);
  Shots(At(9, 59, 30), 1, 10);
  ExpectFirstTwoProfiles();
  EXPECT_EQ(TReader(File("SN7_20240501_0009.nc")).Text("RawData_Stop_Time_UT"), "095930");
}

void NetcdfExportTest::ExpectFirstTwoProfiles() {
  // Shot records of different weights: a weighted mean times the shots
  // would not give the plain sum.
  Shots(At(10, 0, 5), 100, 1000);
  Shots(At(10, 0, 35), 300, 500);
  Shots(At(10, 1, 10), 7, 250);
  Shots(At(10, 1, 50), 9, 250);
  Stop();

  const TReader f(File("SN7_20240501_0010.nc"));
  ASSERT_TRUE(f.Ok());
  ASSERT_EQ(f.Dim("time"), 2u);
  EXPECT_EQ(f.Dim("channels"), 2u);
  EXPECT_EQ(f.Dim("points"), static_cast<size_t>(Gates));
  EXPECT_EQ(f.Doubles("channel_ID"), (std::vector<double>{101, 102}));
  EXPECT_EQ(f.Doubles("Laser_Shots"), (std::vector<double>{1500, 1500, 500, 500}));
  EXPECT_EQ(f.Doubles("Raw_Data_Start_Time"), (std::vector<double>{0, 65}));
  EXPECT_EQ(f.Doubles("Raw_Data_Stop_Time"), (std::vector<double>{30, 105}));
  const auto raw = f.Doubles("Raw_Lidar_Data");
  ASSERT_EQ(raw.size(), 2u * 2u * Gates);
  for (int row = 0; row < 2; ++row)
    for (int ch = 0; ch < 2; ++ch)
      for (int i = 0; i < Gates; ++i) {
        const double perShot = i + 10.0 * (ch + 1);
        const double expected = row == 0 ? (100 + perShot) + (300 + perShot) : (7 + perShot) + (9 + perShot);
        EXPECT_EQ(raw[static_cast<size_t>((row * 2 + ch) * Gates + i)], expected) << row << ch << i;
      }
  EXPECT_EQ(f.Text("Measurement_ID"), "20240501xy10");
  EXPECT_EQ(f.Text("RawData_Start_Date"), "20240501");
  EXPECT_EQ(f.Text("RawData_Start_Time_UT"), "100005");
  EXPECT_EQ(f.Text("RawData_Stop_Time_UT"), "100150");
  EXPECT_EQ(f.Text("Instrument_Serial_Number"), "SN7");
  EXPECT_EQ(f.Doubles("Laser_Pointing_Angle"), (std::vector<double>{0}));
  EXPECT_EQ(f.Doubles("Molecular_Calc"), (std::vector<double>{0}));
  // Gates 3 (0.9 of 4) and 3 (0.99 of 4): 4 gate lengths of 15 m.
  EXPECT_NEAR(f.Doubles("Background_High")[0], 4 * 14.9896229, 1e-6);
}

TEST_F(NetcdfExportTest, SccMeasurementsFollowTheSliceAndTheTilt) {
  settings.Setup.PitchBase = 30;
  ASSERT_TRUE(Start());
  Shots(At(10, 59, 5), 1, 10);
  Shots(At(11, 0, 5), 2, 10);
  Shots(At(11, 1, 5), 3, 10);
  Stop();
  const TReader before(File("SN7_20240501_0010.nc")), after(File("SN7_20240501_0011.nc"));
  ASSERT_TRUE(before.Ok() && after.Ok());
  EXPECT_EQ(before.Dim("time"), 1u);
  EXPECT_EQ(after.Dim("time"), 2u);
  EXPECT_EQ(after.Text("Measurement_ID"), "20240501xy11");
  EXPECT_EQ(after.Doubles("Raw_Data_Start_Time"), (std::vector<double>{0, 60}));
  EXPECT_NEAR(after.Doubles("Laser_Pointing_Angle")[0], 30.0, 1e-9);
}

TEST_F(NetcdfExportTest, SettingsReadTheNetworkKeysAndAnSccMeasurementLastsAnHour) {
  TIniFile ini;
  ini.LoadFromText("[A]\nType=scc\nSccStation=xy\nSccChannelIDs=1:101\nInstitution=Obs\n[B]\nType=Text\n");
  TExportConfig a, b;
  a.Load(ini, "A");
  b.Load(ini, "B");
  EXPECT_EQ(a.MinutesSlice, 60);
  EXPECT_EQ(b.MinutesSlice, 10);
  EXPECT_EQ(a.SccStation + a.SccChannelIDs + a.Institution, "xy1:101Obs");
}

TEST_F(NetcdfExportTest, SccRefusesSettingsThatWouldExportNothingOrGuess) {
  const std::pair<std::string, std::string> cases[] = {
      {"9:109", "no lidar channel has an identifier"},
      {"1=101", "is not RecordID:ID"},
      {"1:101,1:102", "twice"},
  };
  for (const auto& [ids, why] : cases) {
    config.SccChannelIDs = ids;
    EXPECT_FALSE(Start()) << ids;
    EXPECT_NE(manager->StartError().find(why), std::string::npos) << manager->StartError();
  }
  config.SccChannelIDs = "1:101";
  config.SccStation = "x";
  EXPECT_FALSE(Start());
  EXPECT_NE(manager->StartError().find("SccStation"), std::string::npos) << manager->StartError();
  Shots(At(10, 0, 5), 1, 10);
  EXPECT_FALSE(fs::exists(dir / "exp"));
}

TEST_F(NetcdfExportTest, CfDailyFilesSplitAtMidnightAndAreContinuedWithoutDuplicates) {
  config.Type = "CF";
  config.Institution = "Test station";
  const TDateTime day = EncodeDateTime(2024, 5, 1, 23, 58, 0);
  const auto at = [&](int minute, int second) { return day + (minute * 60 + second) / SecondsPerDay; };
  ASSERT_TRUE(Start());
  Shots(at(0, 5), 10, 100);
  Shots(at(0, 30), 30, 300);
  Shots(at(1, 5), 50, 100);
  Shots(at(2, 5), 70, 100);  // 00:00:05 the next day
  Stop();

  // A restart replays part of the same data, then goes on.
  ASSERT_TRUE(Start());
  Shots(at(1, 5), 50, 100);
  Shots(at(2, 5), 70, 100);
  Shots(at(3, 5), 90, 100);
  Stop();

  const TReader first(File("SN7_20240501.nc")), second(File("SN7_20240502.nc"));
  ASSERT_TRUE(first.Ok() && second.Ok());
  const double t0 = DateTimeToUnix(day) + 5;
  // Date-times carry sub-millisecond representation error into seconds.
  const auto seconds = [&](const TReader& f) {
    std::vector<long long> s;
    for (double t : f.Doubles("time")) s.push_back(std::llround(t - t0));
    return s;
  };
  EXPECT_EQ(seconds(first), (std::vector<long long>{0, 60}));
  EXPECT_EQ(seconds(second), (std::vector<long long>{120, 180}));
  EXPECT_EQ(first.Doubles("laser_shots_3"), (std::vector<double>{400, 100}));
  // Processed with code "R": the laser-shot weighted mean per gate.
  const auto rcs = first.Doubles("rcs_2");
  ASSERT_EQ(rcs.size(), 2u * Gates);
  EXPECT_FLOAT_EQ(rcs[0], (10 + 20) * 0.25 + (30 + 20) * 0.75);
  EXPECT_FLOAT_EQ(rcs[Gates + 3], 50 + 23);
  EXPECT_NEAR(first.Doubles("range")[1], 2 * 14.9896229, 1e-6);
  EXPECT_EQ(first.Doubles("altitude")[0], first.Doubles("range")[0] + 120);
  EXPECT_EQ(first.Text("Conventions"), "CF-1.8");
  EXPECT_EQ(first.Text("institution"), "Test station");
  EXPECT_GT(first.Deflate("rcs_1"), 0);
}

TEST_F(NetcdfExportTest, AProfileCutByACrashIsWrittenAgainAndAnUnreadableFileIsKept) {
  config.Type = "CF";
  ASSERT_TRUE(Start());
  Shots(At(10, 0, 5), 10, 100);
  Shots(At(10, 1, 5), 20, 100);
  Stop();
  // The crash: a third row with a signal but no time yet.
  {
    int id = -1, v = -1;
    ASSERT_EQ(nc_open(File("SN7_20240501.nc").c_str(), NC_WRITE, &id), NC_NOERR);
    const size_t start[] = {2, 0}, count[] = {1, Gates};
    const float junk[Gates] = {1, 2, 3, 4};
    nc_inq_varid(id, "rcs_1", &v);
    ASSERT_EQ(nc_put_vara_float(id, v, start, count, junk), NC_NOERR);
    nc_close(id);
  }
  ASSERT_TRUE(Start());
  Shots(At(10, 2, 5), 30, 100);
  Shots(At(10, 3, 5), 40, 100);
  Stop();
  {
    const TReader f(File("SN7_20240501.nc"));
    ASSERT_TRUE(f.Ok());
    EXPECT_EQ(f.Doubles("time").size(), 4u);
    EXPECT_FLOAT_EQ(f.Doubles("rcs_1")[2 * Gates], 30 + 10);
  }

  // A day file the library cannot read is set aside, not overwritten.
  fs::remove(File("SN7_20240501.nc"));
  std::ofstream(File("SN7_20240501.nc")) << "not a netCDF file";
  ASSERT_TRUE(Start());
  Shots(At(10, 5, 5), 30, 100);
  Shots(At(10, 6, 5), 40, 100);
  Stop();
  EXPECT_TRUE(fs::exists(File("SN7_20240501.nc.unreadable-1")));
  EXPECT_EQ(TReader(File("SN7_20240501.nc")).Dim("time"), 2u);
}

// A batch run writes and compresses its rows on a second thread: the
// files must be those the export writes in place.
TEST_F(NetcdfExportTest, WorkBehindWritesTheSameFiles) {
  OrlaqLidar::Test::TTestSource replay("Replay", true);
  feed = &replay;
  for (const bool behind : {false, true}) {
    config.Folder = (dir / (behind ? "behind" : "inplace")).string();
    for (const char* type : {"SCC", "CF"}) {
      config.Type = type;
      parameters = TExportParameters(config);
      manager = std::make_unique<TExportManager>(settings, feed);
      manager->SetWorkBehind(behind);
      ASSERT_TRUE(manager->Start(&parameters)) << manager->StartError();
      // Twelve profiles across an hour's slice.
      for (int s = 0; s < 12 * 60; s += 20) Shots(At(9, 54, 0) + s / SecondsPerDay, 1 + s % 7, 100);
      manager->DataManager()->Flush();
      manager->Flush();
      EXPECT_EQ(manager->Failures(), 0);
      manager.reset();
    }
  }
  for (const char* name : {"SN7_20240501_0009.nc", "SN7_20240501_0010.nc", "SN7_20240501.nc"}) {
    const std::string inPlace = Shell("ncdump " + (dir / "inplace" / name).string() + " | tail -n +2");
    EXPECT_NE(inPlace.find("data:"), std::string::npos) << name;
    EXPECT_EQ(Shell("ncdump " + (dir / "behind" / name).string() + " | tail -n +2"), inPlace) << name;
  }
}

TEST_F(NetcdfExportTest, NcdumpShowsTheLayoutAndAnotherLocaleWritesTheSameFiles) {
  const auto write = [&](const char* locale, const std::string& folder) {
    std::setlocale(LC_ALL, locale);
    config.Folder = (dir / folder).string();
    for (const char* type : {"SCC", "CF"}) {
      config.Type = type;
      EXPECT_TRUE(Start());
      Shots(At(10, 0, 5), 1, 1000);
      Shots(At(10, 1, 5), 2, 1000);
      Stop();
    }
    std::setlocale(LC_ALL, "");
  };
  write("C", "c");
  write("de_DE.UTF-8", "de");
  for (const char* name : {"SN7_20240501_0010.nc", "SN7_20240501.nc"}) {
    const std::string c = Shell("ncdump " + (dir / "c" / name).string() + " | tail -n +2");
    const std::string de = Shell("ncdump " + (dir / "de" / name).string() + " | tail -n +2");
    EXPECT_FALSE(c.empty()) << name;
    EXPECT_EQ(c, de) << name;
  }

  const std::string scc = Shell("ncdump -h " + (dir / "c" / "SN7_20240501_0010.nc").string());
  for (const char* line :
       {"time = UNLIMITED ; // (2 currently)", "channels = 2 ;", "points = 4 ;", "nb_of_time_scales = 1 ;",
        "scan_angles = 1 ;", "double Raw_Lidar_Data(time, channels, points) ;", "int Laser_Shots(time, channels) ;",
        "int Raw_Data_Start_Time(time, nb_of_time_scales) ;", "int Raw_Data_Stop_Time(time, nb_of_time_scales) ;",
        "int channel_ID(channels) ;", "int id_timescale(channels) ;", "double Laser_Pointing_Angle(scan_angles) ;",
        "int Laser_Pointing_Angle_of_Profiles(time, nb_of_time_scales) ;", "double Background_Low(channels) ;",
        "double Background_High(channels) ;", "int Molecular_Calc ;", ":Measurement_ID = \"20240501xy10\" ;",
        ":RawData_Start_Date = \"20240501\" ;", ":RawData_Start_Time_UT = \"100005\" ;",
        ":RawData_Stop_Time_UT = \"100105\" ;", ":Latitude_degrees_north = 45.5 ;", ":Longitude_degrees_east = 0. ;",
        ":Altitude_meter_asl = 120. ;"})
    EXPECT_NE(scc.find(line), std::string::npos) << line << "\n" << scc;
  EXPECT_EQ(Shell("ncdump -k " + (dir / "c" / "SN7_20240501_0010.nc").string()), "netCDF-4 classic model\n");

  const std::string cf = Shell("ncdump -h " + (dir / "c" / "SN7_20240501.nc").string());
  for (const char* line : {"double time(time) ;", "double range(range) ;", "double altitude(range) ;",
                           "float rcs_1(time, range) ;", "rcs_1:_FillValue = NaNf ;", "rcs_3:wavelength = 532. ;",
                           "rcs_1:polarization = \"O\" ;", "int laser_shots_2(time) ;", "double latitude ;",
                           "double longitude ;", "double station_altitude ;", ":Conventions = \"CF-1.8\" ;",
                           ":title = ", ":institution = ", ":source = ", ":history = "})
    EXPECT_NE(cf.find(line), std::string::npos) << line << "\n" << cf;
}
