#include "Common/IniFile.h"

#include <gtest/gtest.h>

#include "Common/FileUtils.h"
#include "Common/RegistryIniFile.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;

TEST(IniFile, ParsesSectionsKeysAndCommentsIgnoringCase) {
  TIniFile ini;
  ini.LoadFromText(
      "\xEF\xBB\xBF; leading comment\r\n"
      "orphan=ignored\r\n"
      "[General]\r\n"
      "Name = Demo lidar \r\n"
      "# another comment\n"
      "Empty=\n"
      "Equation=a=b\n"
      "[channel1]\n"
      "DoorsTime=12,5\n");
  EXPECT_EQ(ini.ReadString("GENERAL", "name", "?"), "Demo lidar");
  EXPECT_EQ(ini.ReadString("General", "Empty", "def"), "");
  EXPECT_EQ(ini.ReadString("General", "Equation", ""), "a=b");
  EXPECT_EQ(ini.ReadString("General", "orphan", "none"), "none");
  EXPECT_TRUE(ini.SectionExists("Channel1"));
  EXPECT_FALSE(ini.ValueExists("General", "Missing"));
  EXPECT_DOUBLE_EQ(ini.ReadFloat("Channel1", "DoorsTime", 0), 12.5);
}

TEST(IniFile, KeepsDuplicateSectionsInOrderAndReadsTheFirst) {
  TIniFile ini;
  ini.LoadFromText("[A]\nk=1\n[B]\n[A]\nk=2\n[a]\n");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B", "A", "a"}));
  EXPECT_EQ(ini.ReadInteger("A", "k", 0), 1);
}

TEST(IniFile, TypedReadsFallBackToDefaultOnMalformedValues) {
  TIniFile ini;
  ini.LoadFromText("[S]\nInt=12x\nBig=99999999999\nBoolWord=TRUE\nBoolNum=0\nBoolJunk=maybe\nNeg=-7\nPlus=+3\n");
  EXPECT_EQ(ini.ReadInteger("S", "Int", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "Big", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "Neg", 0), -7);
  EXPECT_EQ(ini.ReadInteger("S", "Plus", 0), 3);
  EXPECT_TRUE(ini.ReadBool("S", "BoolWord", false));
  EXPECT_FALSE(ini.ReadBool("S", "BoolNum", true));
  EXPECT_TRUE(ini.ReadBool("S", "BoolJunk", true));
}

TEST(IniFile, WritesRoundTripThroughAFileAtomically) {
  TTempDir dir;
  const auto path = dir / "sub/dir/settings.ini";
  {
    TIniFile ini(path.string());
    ini.SetAutoSave(true);
    ini.WriteFloat("Skyvane\\GUI", "RaylSlope10", -0.00011);
    ini.WriteBool("Skyvane", "AutoPower", true);
    ini.WriteInteger("Skyvane", "N", 42);
    ini.WriteString("Skyvane", "n", "43");  // same key, other case: replaced
    ini.DeleteKey("Skyvane", "AutoPower");
  }
  TIniFile back(path.string());
  EXPECT_EQ(back.ReadString("skyvane\\gui", "RaylSlope10", ""), "-0.00011");
  EXPECT_FALSE(back.ValueExists("Skyvane", "AutoPower"));
  EXPECT_EQ(back.ReadInteger("Skyvane", "N", 0), 43);
  // Nothing but the file itself is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path.parent_path()), {}), 1);
}

TEST(RegistryIniFile, MapsSectionsBelowItsSubKey) {
  TIniFile base;
  TRegistryIniFile product(base, "Skyvane");
  product.WriteString("Skyvane\\GUI", "ShowEvents", "false");
  EXPECT_EQ(base.ReadString("Skyvane\\Skyvane\\GUI", "ShowEvents", ""), "false");
  EXPECT_EQ(product.ReadSections(), std::vector<std::string>{"Skyvane\\GUI"});
  TRegistryIniFile root(base, "");
  EXPECT_TRUE(root.SectionExists("Skyvane\\Skyvane\\GUI"));
}

TEST(FileUtils, BackupKeepsOnePreviousVersionAndDropsEmptyFiles) {
  TTempDir dir;
  const auto path = dir / "AfterPulse.txt";
  ASSERT_TRUE(ReplaceFileWithBackup(path, "one"));
  EXPECT_FALSE(std::filesystem::exists(dir / "AfterPulse.bak"));
  ASSERT_TRUE(ReplaceFileWithBackup(path, "two"));
  ASSERT_TRUE(ReplaceFileWithBackup(path, "three"));
  EXPECT_EQ(*ReadTextFile(path), "three");
  EXPECT_EQ(*ReadTextFile(dir / "AfterPulse.bak"), "two");
  ASSERT_TRUE(ReplaceFileWithBackup(path, ""));
  ASSERT_TRUE(ReplaceFileWithBackup(path, "four"));
  EXPECT_EQ(*ReadTextFile(dir / "AfterPulse.bak"), "three");  // the empty file was not kept
  EXPECT_EQ(StripTrailingSeparators("/data//"), "/data");
  EXPECT_EQ(StripTrailingSeparators("C:\\data\\\\"), "C:\\data");
  EXPECT_EQ(StripTrailingSeparators("/"), "/");
}
