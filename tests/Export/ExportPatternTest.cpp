#include "Export/ExportPattern.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Common/IniFile.h"
#include "Config/ExportConfig.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using namespace OrlaqExport;

namespace {

class ExportPattern : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  TExportParameters Params(const std::string& pattern, int slice) {
    TExportConfig c;
    c.Folder = "/exp";
    c.FilePattern = pattern;
    c.MinutesSlice = slice;
    return TExportParameters(c);
  }
  const TDateTime At0317 = EncodeDateTime(2014, 3, 5, 3, 17, 42);
};

}  // namespace

TEST_F(ExportPattern, TheValuesListFollowsItsOrderAndFormats) {
  const TPatternValues v = PatternValues(Params("x", 10), "00000000", At0317);
  const TPatternValues expected = {"%YYYY%=2014", "%YY%=14",   "%MM%=03",      "%DD%=05",
                                   "%hh%=03",     "%mn%=17",   "%hhS%=03",     "%mnS%=10",
                                   "%SN%=00000000", "%SLICE%=0019"};
  EXPECT_EQ(v, expected);
}

TEST_F(ExportPattern, SliceLengthDecidesSliceStartAndNumber) {
  struct Case {
    int slice;
    const char* expected;
  };
  const Case cases[] = {{10, "03 10 0019"}, {120, "02 00 0001"}, {0, "03 17 "}, {-5, "03 17 "}};
  for (const Case& c : cases) {
    const auto v = PatternValues(Params("", c.slice), "SN", At0317);
    EXPECT_EQ(ExpandPattern("%hhS% %mnS% %SLICE%", v), c.expected) << c.slice;
  }
}

TEST_F(ExportPattern, FileNames) {
  struct Case {
    const char* pattern;
    const char* expected;
  };
  const Case cases[] = {
      {TExportConfig::DefaultPattern, "/exp/00000000_20140305_0019.txt"},
      {"%YYYY%/%MM%/%SN%_%hh%%mn%.dat", "/exp/2014/03/00000000_0317.dat"},
      {"v1.2/%SN%", "/exp/v1.2/00000000.txt"},
      {"%YYYY%\\%SN%", "/exp/2014/00000000.txt"},
      // Exact case only: a lower-case placeholder stays as written.
      {"%yyyy%_%YYYY%", "/exp/%yyyy%_2014.txt"},
      {"100%_%SN%", "/exp/100%_00000000.txt"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExportFileName(Params(c.pattern, 10), "00000000", At0317), c.expected) << c.pattern;
}

TEST_F(ExportPattern, AReplacedValueIsNotSearchedAgain) {
  // The serial number itself looks like a placeholder; it is path-safe first.
  EXPECT_EQ(ExpandPattern("%SN%-%SN%", {"%SN%=%SN%x"}), "%SN%x-%SN%x");
  EXPECT_EQ(ExpandPattern("%%SLICE%SLICE%%", {"%SLICE%="}), "%SLICE%%");
}

TEST_F(ExportPattern, ASerialNumberCannotLeadOutOfTheFolder) {
  EXPECT_EQ(ExportFileName(Params("%SN%", 0), "../../etc/x", At0317), "/exp/.._.._etc_x");
}

TEST_F(ExportPattern, BeforeAnyDataTheCurrentTimeNamesTheFile) {
  Clock.SetNow(EncodeDateTime(2021, 7, 9, 23, 59, 0));
  EXPECT_EQ(ExportFileName(Params("%YYYY%%MM%%DD%_%SLICE%", 10), "SN", 0), "/exp/20210709_0143.txt");
  EXPECT_EQ(ExportFileName(Params("%YYYY%", 10), "SN", 0.75), "/exp/2021.txt");
}

TEST_F(ExportPattern, UnknownPlaceholdersAreFound) {
  EXPECT_TRUE(UnknownPlaceholders(TExportConfig::DefaultPattern).empty());
  EXPECT_TRUE(UnknownPlaceholders("100% sure_%SN%").empty());
  EXPECT_EQ(UnknownPlaceholders("%yyyy%%MM%%HOUR%_%SN%"), (std::vector<std::string>{"%yyyy%", "%HOUR%"}));
}

TEST(ExportConfig, LoadSaveAndDefaults) {
  TIniFile store;
  TExportConfig c;
  c.Load(store, TExportConfig::Section);
  EXPECT_EQ(c.Folder, (std::filesystem::current_path() / "ExportData").string());
  EXPECT_EQ(c.FilePattern, "%SN%_%YYYY%%MM%%DD%_%SLICE%");
  EXPECT_EQ(c.ColumnDelimiter, ";");
  EXPECT_EQ(c.Processing.Processings, 55);
  EXPECT_EQ(c.Processing.ProfileTime, 60);
  EXPECT_TRUE(c.LogMonitoring);
  EXPECT_EQ(c.MinutesSlice, 10);

  store.LoadFromText("[E]\nFolder=/d\nType=Text\nFilePattern=%SN%\nColumnDelimiter=|\nProfileTime=30\n"
                     "Processings=osbar2\nLogMonitoring=false\nMinutesSlice=0\nDateFormat=1\n");
  c.Load(store, "E");
  EXPECT_EQ(c.Processing.Processings, 63);
  EXPECT_EQ(c.Processing.ProfileTime, 30);
  EXPECT_EQ(c.ColumnDelimiter, "|");
  c.ColumnDelimiter = "\t";
  EXPECT_EQ(c.DateFormat, 1);

  TIniFile out;
  c.Save(out, "S");
  EXPECT_EQ(out.ReadSectionKeys("S").size(), 12u);
  EXPECT_EQ(out.ReadString("S", "Processings", ""), "OSBAR2");
  TExportConfig back;
  back.Load(out, "S");
  const TExportParameters p(back);
  EXPECT_EQ(p.Folder, "/d");
  EXPECT_EQ(p.FilePattern, "%SN%");
  EXPECT_EQ(p.Delimiter(), '\t');
  TIniFile file;
  file.LoadFromText(out.ToText());
  back.Load(file, "S");
  EXPECT_EQ(back.ColumnDelimiter, "\t") << "a settings file trims its values";
  EXPECT_FALSE(p.LogMonitoring);
  EXPECT_EQ(p.MinutesSlice, 0);
  EXPECT_EQ(p.Processing.Processings, 63);
}

TEST(ExportConfig, AnEmptyFolderValueIsTheDefaultFolder) {
  // Else the files would go to whatever folder the program runs in.
  TIniFile store;
  store.LoadFromText("[E]\nFolder=\n");
  TExportConfig c;
  c.Folder = "/elsewhere";
  c.Load(store, "E");
  EXPECT_EQ(c.Folder, (std::filesystem::current_path() / "ExportData").string());
}
