// Record with the simulated instrument (automatic export on), then export
// the recording with the batch run: the text files, their record lines and
// definitions, the exit codes for bad input, and the same bytes under
// another locale.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "tests/app/ProgramRuns.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;
using OrlaqLidar::Test::TProgramRuns;
using OrlaqLidar::Test::TRun;

namespace {

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Record lines per tag ("DP") and per channel ("DP1").
std::map<std::string, int> Tags(const std::string& text) {
  std::map<std::string, int> tags;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto cols = line.find(';');
    const std::string tag = line.substr(0, cols);
    ++tags[tag];
    if (tag == "DP") ++tags["DP" + line.substr(cols + 1, line.find(';', cols + 1) - cols - 1)];
  }
  return tags;
}

class BatchExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    runs_ = new TProgramRuns;
    const fs::path model = runs_->QuickDefinition();
    std::ofstream(runs_->Settings) << "[Skyvane]\nAutoExport=1\n[Skyvane\\Export]\nFolder=" << (runs_->Dir / "auto").string()
                                   << "\nProfileTime=60\n";
    record_ = runs_->Run(exe_, {"-SIMULATE", "-HEADLESS", "-DURATION=6", "-MODEL", model.string()}, 60000, "record");
  }
  static void TearDownTestSuite() { delete runs_; }

  // Export settings named <name>.ini exporting into the folder <name>.
  fs::path Settings(const std::string& name, const std::string& lines) const {
    const fs::path ini = runs_->Dir / (name + ".ini");
    std::ofstream(ini) << "[Batch]\nFolder=" << (runs_->Dir / name).string() << "\n" << lines;
    return ini;
  }
  TRun Export(const fs::path& ini, std::vector<std::string> files, const std::string& name,
              const std::vector<std::string>& env = {}) {
    std::vector<std::string> args = {"-EXPORT", "-EXPCONFIG", ini.string()};
    args.insert(args.end(), files.begin(), files.end());
    return runs_->Run(exe_, args, 60000, name, env);
  }

  static inline TProgramRuns* runs_ = nullptr;
  static inline TRun record_;
  static inline const fs::path exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
};

}  // namespace

TEST_F(BatchExportTest, AutomaticExportFollowsTheLaserOfAHeadlessRun) {
  ASSERT_EQ(record_.ExitCode, 0) << record_.Out << record_.Err;
  EXPECT_NE(record_.Err.find("Automatic export started"), std::string::npos) << record_.Err;
  const auto files = FilesIn(runs_->Dir / "auto");
  ASSERT_EQ(files.size(), 1u) << record_.Err;
  // The profiles running when the laser went off were completed and written.
  const auto tags = Tags(ReadTextFile(files.front()).value_or(""));
  for (const char* dp : {"DP1", "DP2", "DP3"}) {
    EXPECT_GE(tags.count(dp) ? tags.at(dp) : 0, 1) << dp;
    EXPECT_LE(tags.count(dp) ? tags.at(dp) : 0, 2) << dp;  // a run across a minute boundary
  }
  EXPECT_GT(tags.count("DM") ? tags.at("DM") : 0, 0);
}

TEST_F(BatchExportTest, RecordedFilesAreExportedByThePattern) {
  ASSERT_EQ(record_.ExitCode, 0) << record_.Err;
  const auto recorded = runs_->RecordedFiles();
  ASSERT_EQ(recorded.size(), 1u);
  const std::string options = "ProfileTime=1\nMinutesSlice=10\nProcessings=OSBR2\n";
  const TRun run = Export(Settings("out", "FilePattern=day/%SN%_%YYYY%%MM%%DD%_%SLICE%\nLogMonitoring=0\n" + options),
                          {recorded.front().string()}, "batch");
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  const auto files = FilesIn(runs_->Dir / "out");
  ASSERT_FALSE(files.empty()) << run.Err;
  std::map<std::string, int> all;
  for (const auto& f : files) {
    EXPECT_EQ(f.parent_path(), runs_->Dir / "out" / "day") << f;
    EXPECT_TRUE(std::regex_match(f.filename().string(), std::regex(R"([A-Za-z0-9]+_\d{8}_\d{4}\.txt)"))) << f;
    const std::string text = ReadTextFile(f).value_or("");
    for (const auto& [tag, n] : Tags(text)) all[tag] += n;
    for (const char* def : {"FILEV", "INSDEF", "INSCFG", "DCLID", "DETPAR"}) EXPECT_GT(Tags(text).count(def), 0u) << def;
    // tag, channel, date, shot records, duration, code, afterpulse bit, 2048 gates, background, "0"
    const size_t at = text.find("\nDP;1;");
    ASSERT_NE(at, std::string::npos) << f;
    const std::string dp = text.substr(at + 1, text.find("\r\n", at) - at - 1);
    EXPECT_EQ(std::count(dp.begin(), dp.end(), ';'), 7 + 2048 + 1) << dp.substr(0, 80);
    EXPECT_NE(dp.find(";OSBR2;0;"), std::string::npos) << dp.substr(0, 80);
  }
  EXPECT_EQ(all.count("DM"), 0u) << "monitoring off";
  // Shots at about one a second per channel, one-second profiles.
  for (const char* dp : {"DP1", "DP2", "DP3"}) EXPECT_GE(all.count(dp) ? all.at(dp) : 0, 3) << dp;

  // The same bytes under another locale, apart from the creation time.
  const std::string pattern = "FilePattern=%SN%_%YYYY%%MM%%DD%_%SLICE%\nLogMonitoring=1\n" + options;
  const TRun french = Export(Settings("fr", pattern), {recorded.front().string()}, "fr", {"LC_ALL=fr_FR.UTF-8"});
  const TRun c = Export(Settings("c", pattern), {recorded.front().string()}, "c", {"LC_ALL=C"});
  ASSERT_EQ(french.ExitCode, 0) << french.Err;
  ASSERT_EQ(c.ExitCode, 0) << c.Err;
  const auto frFiles = FilesIn(runs_->Dir / "fr"), cFiles = FilesIn(runs_->Dir / "c");
  ASSERT_EQ(frFiles.size(), cFiles.size());
  // Apart from the creation time and the date of the default calibrations
  // (the time they were made), the same bytes; compared by length and hash
  // so that a failure does not print megabytes.
  const auto body = [](const fs::path& f) {
    std::istringstream in(ReadTextFile(f).value_or(""));
    std::string kept;
    for (std::string line; std::getline(in, line);)
      if (line.rfind("#", 0) != 0 && line.rfind("DETPAR", 0) != 0) kept += line + "\n";
    return std::to_string(kept.size()) + ":" + std::to_string(std::hash<std::string>{}(kept));
  };
  for (size_t i = 0; i < frFiles.size(); ++i) {
    EXPECT_EQ(frFiles[i].filename(), cFiles[i].filename());
    EXPECT_EQ(body(frFiles[i]), body(cFiles[i])) << frFiles[i];
    EXPECT_GT(Tags(ReadTextFile(cFiles[i]).value_or("")).count("DM"), 0u);
  }
}

TEST_F(BatchExportTest, BadInputGetsALineAndItsExitCodeAndWritesNothing) {
  ASSERT_EQ(record_.ExitCode, 0) << record_.Err;
  const std::string recorded = runs_->RecordedFiles().front().string();
  const fs::path notes = runs_->Dir / "notes.txt";
  std::ofstream(notes) << "field notes\n";
  const fs::path blocked = runs_->Dir / "blocked";
  std::ofstream(blocked) << "a file where the export folder should be";
  struct TCase {
    std::string name, lines;
    std::vector<std::string> files;
    int exitCode;
    std::string line;
  } cases[] = {
      {"notskv2", "", {notes.string(), recorded}, 253, notes.string() + ": refused, not a .skv2 recording"},
      {"nofile", "", {(runs_->Dir / "missing.skv2").string()}, 254, "no recorded file named"},
      {"placeholder", "FilePattern=%SN%_%Hour%\n", {recorded}, 253, "unknown placeholder %Hour%"},
      {"folder", "FilePattern=" + (blocked / "sub" / "x").string() + "\n", {recorded}, 253, "cannot create the export folder"},
      {"noscc", "Type=SCC\nSccStation=xy\nSccChannelIDs=9:109\n", {recorded}, 253, "no lidar channel has an identifier"},
  };
  for (const TCase& c : cases) {
    const TRun run = Export(Settings(c.name, c.lines), c.files, c.name);
    EXPECT_EQ(run.ExitCode, c.exitCode) << c.name << run.Err;
    EXPECT_NE(run.Err.find(c.line), std::string::npos) << c.name << run.Err;
    EXPECT_TRUE(FilesIn(runs_->Dir / c.name).empty()) << c.name;
  }
  // Missing export settings are no defaults in disguise.
  const TRun missing = Export(runs_->Dir / "absent.ini", {recorded}, "absent");
  EXPECT_EQ(missing.ExitCode, 253) << missing.Err;
  EXPECT_NE(missing.Err.find("export settings"), std::string::npos) << missing.Err;
}

TEST_F(BatchExportTest, QuicklookPicturesOfEveryChannelAndDayWithoutADisplay) {
  ASSERT_EQ(record_.ExitCode, 0) << record_.Err;
  const fs::path folder = runs_->Dir / "ql";
  const TRun run = runs_->Run(exe_, {"-EXPORT", "-QUICKLOOK=" + folder.string(), runs_->RecordedFiles().front().string()},
                              60000, "ql");
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const auto pictures = FilesIn(folder);
  ASSERT_EQ(pictures.size(), 3u) << run.Err;  // the three lidar channels, one day
  for (const auto& p : pictures) {
    EXPECT_TRUE(std::regex_match(p.filename().string(), std::regex(R"(QL_\d{8}_.+\.png)"))) << p;
    EXPECT_GT(fs::file_size(p), 1000u) << p;
  }
  EXPECT_FALSE(fs::exists(runs_->Work / "ExportData")) << "pictures alone were asked for";
}
