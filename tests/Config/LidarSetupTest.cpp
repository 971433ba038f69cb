#include "Config/LidarSetup.h"

#include <sys/stat.h>
#include <zip.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

#include <gtest/gtest.h>

#include "Common/FileUtils.h"
#include "Common/IniFile.h"
#include "Common/PathSafeName.h"
#include "Config/ApplicationConfig.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

// Builds a ZIP archive entry by entry; written when Close runs.
class TZipBuilder {
 public:
  explicit TZipBuilder(const fs::path& file) : za_(zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr)) {
    EXPECT_NE(za_, nullptr);
  }
  ~TZipBuilder() { EXPECT_EQ(zip_close(za_), 0) << zip_strerror(za_); }
  zip_uint64_t File(const std::string& name, const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));  // freed by libzip
    std::memcpy(copy, text.data(), text.size());
    const zip_int64_t i = zip_file_add(za_, name.c_str(), zip_source_buffer(za_, copy, text.size(), 1),
                                       ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    EXPECT_GE(i, 0) << name;
    return static_cast<zip_uint64_t>(i);
  }
  zip_uint64_t Folder(const std::string& name) {
    const zip_int64_t i = zip_dir_add(za_, name.c_str(), ZIP_FL_ENC_UTF_8);
    EXPECT_GE(i, 0) << name;
    return static_cast<zip_uint64_t>(i);
  }
  void Stored(zip_uint64_t i) { zip_set_file_compression(za_, i, ZIP_CM_STORE, 0); }
  void DosAttributes(zip_uint64_t i, uint32_t attributes) {
    zip_file_set_external_attributes(za_, i, 0, ZIP_OPSYS_DOS, attributes);
  }
  void Symlink(const std::string& name, const std::string& target) {
    zip_file_set_external_attributes(za_, File(name, target), 0, ZIP_OPSYS_UNIX,
                                     static_cast<uint32_t>(S_IFLNK | 0777) << 16);
  }

 private:
  zip_t* za_;
};

TListChannelConfig Channels(std::initializer_list<std::pair<int, const char*>> list) {
  TListChannelConfig channels;
  for (auto [id, protocol] : list) {
    auto c = std::make_unique<TChannelConfig>();
    c->RecordID = id;
    c->Protocol = protocol;
    c->DoorsCount = 3;
    c->DoorsUsed = 3;
    channels.push_back(std::move(c));
  }
  return channels;
}

class LidarSetupTest : public Test::TSimulatedTime {
 protected:
  LidarSetupTest() {
    base = (dir / "LidConf").string();
    fs::create_directories(base);
  }
  bool Logged(const std::string& part) const {
    for (const auto& l : LogLines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  // Every regular file below the temporary folder, relative to it.
  std::set<std::string> AllFiles() const {
    std::set<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
      if (e.is_regular_file() || e.is_symlink()) files.insert(e.path().lexically_relative(dir.Path()).generic_string());
    return files;
  }
  fs::path Zip() const { return dir / "cal.zip"; }
  std::string Cal(const std::string& rest) const { return "LidConf/CAL_00000000/" + rest; }

  OrlaqLidar::Test::TTempDir dir;
  std::string base;
  TLidarSetup setup;
};

// ---- settings ----

TEST_F(LidarSetupTest, BaseValuesReadAsIntegersUnlessOneIsAFloatAndSaveWithoutTheSerialNumber) {
  TIniFile store;
  store.LoadFromText("[Skyvane\\Setup]\nRollBase=2\nPitchBase=-3\nAltitudeBase=1500\n");
  setup.LongitudeBase = 6.5;  // absent: the current value stays whole
  ASSERT_TRUE(setup.Load(store, TLidarSetup::Section));
  EXPECT_EQ(setup.PitchBase, -3);
  EXPECT_EQ(setup.AltitudeBase, 1500);
  EXPECT_EQ(setup.LongitudeBase, 6.5);

  // One floating-point value among the five: all of them are read as floats.
  store.LoadFromText("[Skyvane\\Setup]\nRollBase=2\nPitchBase=0,25\nAltitudeBase=12.75\nLongitudeBase=-1.5\n"
                     "LatitudeBase=45\nAirinsAddr=10.0.0.2\nAirinsPort=5000\nUseSNCalFolder=false\n");
  ASSERT_TRUE(setup.Load(store, TLidarSetup::Section));
  EXPECT_EQ(setup.RollBase, 2);
  EXPECT_EQ(setup.PitchBase, 0.25);
  EXPECT_EQ(setup.AltitudeBase, 12.75);
  EXPECT_EQ(setup.LatitudeBase, 45);
  EXPECT_EQ(setup.AirinsAddr, "10.0.0.2");
  EXPECT_FALSE(setup.UseSNCalFolder);

  setup.UseEmbeddedCalib = true;
  setup.SerialNumber = "12345678";
  TIniFile saved;
  ASSERT_TRUE(setup.Save(saved, TLidarSetup::Section));
  EXPECT_EQ(saved.ReadString("Skyvane\\Setup", "PitchBase", ""), "0.25");
  EXPECT_FALSE(saved.ValueExists("Skyvane\\Setup", "SerialNumber"));
  TLidarSetup back;
  back.Load(saved, TLidarSetup::Section);
  EXPECT_EQ(back.LongitudeBase, -1.5);
  EXPECT_EQ(back.AirinsPort, "5000");
  EXPECT_TRUE(back.UseEmbeddedCalib);
  EXPECT_EQ(back.SerialNumber, "00000000");
}

// ---- calibrations ----

TEST_F(LidarSetupTest, CalibrationsAreBuiltPerChannelInTheSerialNumberFolder) {
  const auto channels = Channels({{1, "LIDAR"}, {2, "LIDAR"}, {9, "LIDAR_MONITOR"}});
  dir.WriteFile(Cal("Channel2/Overlap.txt"), "2\n4\n8\n");
  EXPECT_EQ(setup.BuildCalibrations(base, channels), 2);  // the monitoring channel loads nothing
  EXPECT_EQ(setup.BaseFolder, base);
  EXPECT_EQ(setup.CalibrationFolder, (fs::path(base) / "CAL_00000000").string());
  ASSERT_EQ(setup.Calibrations.size(), 3u);
  EXPECT_EQ(setup.Calibrations[2]->Type, TChannelType::Monitor);
  TCalibration* c2 = setup.FindCalibration(2);
  ASSERT_NE(c2, nullptr);
  EXPECT_EQ(c2->OverlapInverse, (std::vector<double>{0.5, 0.25, 0.125}));
  EXPECT_EQ(setup.FindCalibration(1)->OverlapState, 0);
  EXPECT_EQ(setup.FindCalibration(4), nullptr);

  setup.UseSNCalFolder = false;
  dir.WriteFile("LidConf/Channel1/Overlap.txt", "1\n1\n0.5\n");
  EXPECT_EQ(setup.BuildCalibrations(base, channels), 2);
  EXPECT_EQ(setup.CalibrationFolder, base);
  EXPECT_EQ(setup.FindCalibration(1)->OverlapInverse[2], 2.0);
  EXPECT_EQ(setup.FindCalibration(2)->OverlapState, 0);
}

TEST_F(LidarSetupTest, AShortCalibrationFileIsLoggedAndTheOthersStillLoad) {
  const auto channels = Channels({{1, "LIDAR"}, {2, "LIDAR"}});
  dir.WriteFile(Cal("Channel1/APDCoefs.txt"), "0\n1e-8\n10\n");
  dir.WriteFile(Cal("Channel2/APDCoefs.txt"), "1\n1e-8\n10\n0.5\n");
  EXPECT_EQ(setup.BuildCalibrations(base, channels), 1);
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find(setup.FindCalibration(1)->ApdFile), std::string::npos);
  EXPECT_EQ(setup.FindCalibration(1)->DeadTime, 2.5e-08);
  EXPECT_EQ(setup.FindCalibration(2)->ApdFlag, 1);
}

TEST_F(LidarSetupTest, EmbeddedCalibrationsApplyOnlyWhenAsked) {
  const auto channels = Channels({{1, "LIDAR"}});
  setup.BuildCalibrations(base, channels);
  const uint8_t detector[25] = {1};
  setup.EmbedCalibration(1, TCalibration::KindDetector, detector, 25);
  EXPECT_EQ(setup.FindCalibration(1)->ApdState, TCalibration::StateAttempted);
  setup.EmbedCalibration(6, TCalibration::KindDetector, detector, 25);
  EXPECT_EQ(setup.Calibrations.size(), 1u);

  setup.UseEmbeddedCalib = true;
  setup.EmbedCalibration(1, TCalibration::KindDetector, detector, 25);
  EXPECT_EQ(setup.FindCalibration(1)->ApdState, TCalibration::StatePresent);
  EXPECT_EQ(setup.FindCalibration(1)->ApdFlag, 1);
  setup.EmbedCalibration(6, TCalibration::KindDetector, detector, 25);
  ASSERT_EQ(setup.Calibrations.size(), 2u);
  EXPECT_EQ(setup.Calibrations[1]->Channel, 6);
  EXPECT_EQ(setup.FindCalibration(6)->ApdFlag, 1);
}

// ---- calibration archive ----

TEST_F(LidarSetupTest, ArchivesThatCannotBeReadAreNamedAndNothingGoesWithoutACalibrationFolder) {
  {
    TZipBuilder zip(Zip());
    zip.File("Channel1/Overlap.txt", "1\n");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "Error while extracting calibrations file archive !");
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip"}));

  setup.BuildCalibrations(base, {});
  EXPECT_EQ(setup.UnzipCalibrations((dir / "none.zip").string()), "File does't exists !");
  dir.WriteFile("bad.zip", "not an archive");
  EXPECT_EQ(setup.UnzipCalibrations((dir / "bad.zip").string()), "Can't open file !");
}

TEST_F(LidarSetupTest, ChannelFilesGoToTheCalibrationFolder) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    zip.Folder("Channel1/");
    zip.File("Channel1/AfterPulse.txt", "1\n2\n");
    zip.File("./Channel2/Overlap.txt", "1\n");
    zip.File("C:/Channel3/APDCoefs.txt", "0\n");
    zip.File("Channel4/a_b.c!,-x.txt", "x");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "4 file(s) extracted");
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip", Cal("Channel1/AfterPulse.txt"), Cal("Channel2/Overlap.txt"),
                                               Cal("Channel3/APDCoefs.txt"), Cal("Channel4/a_b.c!,-x.txt")}));
  EXPECT_EQ(ReadTextFile(dir / Cal("Channel1/AfterPulse.txt")), "1\n2\n");
}

TEST_F(LidarSetupTest, ATopFolderNamesTheInstrumentForTheWholeArchive) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    zip.File("CAL_notes.txt", "a file beside the folder names no instrument");
    zip.Folder("CAL_123/");
    zip.File("CAL_123/Channel1/Overlap.txt", "1\n");
    zip.File("Channel2/Overlap.txt", "2\n");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "2 file(s) extracted");
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip", "LidConf/CAL_123/Channel1/Overlap.txt",
                                               "LidConf/CAL_123/Channel2/Overlap.txt"}));
}

TEST_F(LidarSetupTest, ASecondInstrumentStopsTheExtractionButKeepsEarlierFiles) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    zip.File("cal_1/Channel1/Overlap.txt", "1\n");
    zip.File("CAL_2/Channel1/Overlap.txt", "2\n");
    zip.File("cal_1/Channel2/Overlap.txt", "3\n");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "Error while extracting calibrations file archive !");
  EXPECT_TRUE(Logged("Archive must containts only one instrument calibration"));
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip", "LidConf/cal_1/Channel1/Overlap.txt"}));
}

TEST_F(LidarSetupTest, EntriesThatAreNoChannelFilesAreSkipped) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    zip.Folder("Channel1000/");
    zip.File("Channel1000/Overlap.txt", "1\n");
    zip.Folder("Other/");
    zip.File("Other/Overlap.txt", "1\n");
    zip.File("Channel1/" + std::string(33, 'a'), "1\n");
    zip.File("Channel1/sub/Overlap.txt", "1\n");
    zip.File("Overlap.txt", "1\n");
    zip.DosAttributes(zip.File("Channel1/Hidden.txt", "1\n"), 0x02);
    zip.DosAttributes(zip.File("Channel1/System.txt", "1\n"), 0x04);
    zip.DosAttributes(zip.File("Channel1/Temporary.txt", "1\n"), 0x100);
    zip.DosAttributes(zip.File("Channel1/Offline.txt", "1\n"), 0x1000);
    zip.DosAttributes(zip.Folder("Channel2/"), 0x12);
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "No file extracted !\nNot a calibration archive ???");
  EXPECT_TRUE(Logged("Channel1000/ is not a Channel folder !"));
  EXPECT_TRUE(Logged("Other/ is not a Channel folder !"));
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip"}));

  {
    TZipBuilder zip(Zip());
    zip.DosAttributes(zip.File("Channel1/" + std::string(32, 'a'), "1\n"), 0x01);  // read-only is fine
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "1 file(s) extracted");
}

TEST_F(LidarSetupTest, NoEntryIsWrittenOutsideTheCalibrationFolder) {
  setup.BuildCalibrations(base, {});
  const fs::path outside = dir / "outside";
  fs::create_directories(outside);
  // A channel folder that is a link leading out of the calibration folder.
  fs::create_directories(dir / "LidConf/CAL_00000000");
  fs::create_directory_symlink(outside, dir / "LidConf/CAL_00000000/Channel7");
  {
    TZipBuilder zip(Zip());
    zip.File("Channel1/../../evil.txt", "x");
    zip.File("/etc/x", "x");
    zip.File("Channel1/..", "x");
    zip.File("Channel1/.", "x");
    zip.File("../../Channel2/a.txt", "kept: climbing dots are stripped");
    zip.Symlink("Channel3/link.txt", "/etc/passwd");
    zip.File("Channel7/evil.txt", "x");
    zip.File("CAL_../Channel1/evil.txt", "x");
  }
  const std::string result = setup.UnzipCalibrations(Zip().string());
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_FALSE(fs::exists(dir / "evil.txt"));
  EXPECT_FALSE(fs::exists(dir.Path().parent_path() / "evil.txt"));
  for (const std::string& f : AllFiles())
    EXPECT_TRUE(f == "cal.zip" || f.rfind("LidConf/", 0) == 0) << f;
  EXPECT_TRUE(fs::exists(dir / Cal("Channel2/a.txt")));
  EXPECT_FALSE(fs::exists(dir / Cal("Channel3/link.txt")));
  EXPECT_FALSE(fs::exists(dir / Cal("Channel3")));
  // a.txt and the CAL_.. one, below the base folder; the rest is named.
  EXPECT_EQ(result, "2 file(s) extracted\n5 entries refused: 4 leaving the calibration folder, 1 symbolic link");
  EXPECT_TRUE(fs::is_regular_file(dir / "LidConf/CAL_../Channel1/evil.txt"));
}

TEST_F(LidarSetupTest, ReplacedFilesAreKeptAsBak) {
  setup.BuildCalibrations(base, {});
  dir.WriteFile(Cal("Channel1/Overlap.txt"), "old\n");
  {
    TZipBuilder zip(Zip());
    zip.File("Channel1/Overlap.txt", "new\n");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "1 file(s) extracted");
  EXPECT_EQ(ReadTextFile(dir / Cal("Channel1/Overlap.txt")), "new\n");
  EXPECT_EQ(ReadTextFile(dir / Cal("Channel1/Overlap.bak")), "old\n");
}

TEST_F(LidarSetupTest, ArchivesWithTooManyEntriesOrHugeEntriesAreRefused) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    for (int i = 0; i <= 4096; ++i) zip.Stored(zip.Folder("Channel1/" + std::to_string(i) + "/"));
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()), "Error while extracting calibrations file archive !");
  EXPECT_FALSE(fs::exists(dir / Cal("")));

  {
    TZipBuilder zip(Zip());
    zip.Stored(zip.File("Channel1/big.txt", std::string(TLidarSetup::MaxEntrySize + 1, '0')));
    zip.File("Channel1/small.txt", "1\n");
  }
  // A huge entry is refused alone and named; the others still come.
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()),
            "1 file(s) extracted\n1 entry refused: 1 larger than 67108864 bytes");
  EXPECT_TRUE(fs::exists(dir / Cal("Channel1/small.txt")));
  EXPECT_FALSE(fs::exists(dir / Cal("Channel1/big.txt")));
}

TEST_F(LidarSetupTest, AnArchiveRefusedWholeForSafetySaysSo) {
  setup.BuildCalibrations(base, {});
  {
    TZipBuilder zip(Zip());
    zip.File("Channel1/../../evil.txt", "x");
    zip.Symlink("Channel3/a.txt", "/etc/passwd");
    zip.Symlink("Channel3/b.txt", "/etc/passwd");
  }
  EXPECT_EQ(setup.UnzipCalibrations(Zip().string()),
            "No file extracted !\n3 entries refused: 1 leaving the calibration folder, 2 symbolic links");
  EXPECT_EQ(AllFiles(), (std::set<std::string>{"cal.zip"}));
}

TEST(LidarSetupFolders, TheCalibrationFolderOfAnySerialNumberStaysInsideTheConfigurationFolder) {
  TLidarSetup setup;
  const fs::path base = "/conf";
  for (const char* serial : {"../x/y", "..", "/etc", "a/../../b"}) {
    setup.SerialNumber = serial;
    const fs::path folder = setup.CalibrationFolderFor(base.string());
    EXPECT_EQ(folder.parent_path(), base) << serial;
    // The same name as the recorder's "DIR_" folder of that instrument.
    EXPECT_EQ(folder.filename().string(), "CAL_" + PathSafeName(serial)) << serial;
  }
  setup.SerialNumber = "00000000";
  EXPECT_EQ(setup.CalibrationFolderFor("/conf"), "/conf/CAL_00000000");
}

// ---- application settings ----

TEST_F(LidarSetupTest, TheApplicationLoadsTheSetupAndItsCalibrations) {
  TApplicationConfig config;
  config.ConfigFolder = base;
  TIniFile store;
  store.LoadFromText("[Skyvane\\Setup]\nAltitudeBase=812.5\nUseSNCalFolder=false\n");
  TIniFile definition;
  definition.LoadFromText(
      "[General]\nName=T\n[ChannelGroup1]\nGroupID=1\n[Channel1]\nRecordID=1\nGroupID=1\nUSB=A\nDoorsCount=2\n");
  dir.WriteFile("LidConf/Channel1/Overlap.txt", "4\n4\n");
  EXPECT_TRUE(config.LoadInstrument(store, definition));
  ASSERT_EQ(config.LidarConfig.Channels.size(), 1u);
  EXPECT_EQ(config.Setup.AltitudeBase, 812.5);
  ASSERT_NE(config.Setup.FindCalibration(1), nullptr);
  EXPECT_EQ(config.Setup.FindCalibration(1)->OverlapInverse, (std::vector<double>{0.25, 0.25}));

  config.LidarConfig.Channels = Channels({{3, "LIDAR"}});
  EXPECT_TRUE(config.ReloadCalibrations());
  EXPECT_EQ(config.Setup.FindCalibration(1), nullptr);
  config.LidarConfig.Channels.clear();
  EXPECT_FALSE(config.ReloadCalibrations());

  TIniFile saved;
  config.Save(saved);
  EXPECT_EQ(saved.ReadString("Skyvane\\Setup", "AltitudeBase", ""), "812.5");
  EXPECT_EQ(saved.ReadString("Skyvane\\Setup", "UseSNCalFolder", ""), "false");
}

}  // namespace
