#include "kernel/DailyLogFile.h"

#include <gtest/gtest.h>

#include "Common/FileUtils.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;

TEST(DailyLogFile, LinesGoToTheFileOfTheirDayInAFolderMadeOnDemand) {
  TTempDir dir;
  const std::filesystem::path folder = dir / "LidLog" / "station";
  TDailyLogFile log(folder.string());
  const TDateTime evening = EncodeDateTime(2026, 12, 7, 23, 59, 59);
  ASSERT_TRUE(log.Write("first", evening));
  ASSERT_TRUE(log.Write("second", evening));
  EXPECT_EQ(log.PathFor(evening), folder / "Skyvane_20261207.log");
  EXPECT_EQ(ReadTextFile(folder / "Skyvane_20261207.log").value_or(""), "first\nsecond\n");

  // Past midnight a new file; the folder removed meanwhile comes back.
  std::filesystem::remove_all(folder);
  ASSERT_TRUE(log.Write("third", evening + 2.0 / SecondsPerDay));
  EXPECT_EQ(ReadTextFile(folder / "Skyvane_20261208.log").value_or(""), "third\n");
  EXPECT_FALSE(std::filesystem::exists(folder / "Skyvane_20261207.log"));
}

TEST(DailyLogFile, NoFolderOrAnUnusableOneLosesTheLineOnlyToTheFile) {
  TTempDir dir;
  EXPECT_FALSE(TDailyLogFile("").Write("x", 46000));
  dir.WriteFile("not-a-folder", "");
  EXPECT_FALSE(TDailyLogFile((dir / "not-a-folder").string()).Write("x", 46000));
}
