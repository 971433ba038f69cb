#include "Common/PathSafeName.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "Config/LidarSetup.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

TEST(PathSafeName, NothingAnInstrumentReportsCanNameAnotherFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"SN000042", "SN000042"},   {"LS-26_10.4", "LS-26_10.4"}, {"../x/y", ".._x_y"},
      {"..", "__"},               {".", "_"},                   {"...", "___"},
      {"a\\..\\b", "a_.._b"},     {"C:x", "C_x"},               {"two words", "two_words"},
      {"\xC3\xA9t\xC3\xA9", "__t__"}, {"", ""},
  };
  for (const auto& [raw, safe] : cases) EXPECT_EQ(PathSafeName(raw), safe) << raw;
}

TEST(PathSafeName, TheCalibrationFolderStaysInsideTheConfigurationFolder) {
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
