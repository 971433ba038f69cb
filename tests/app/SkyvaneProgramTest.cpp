// The program itself, run as a separate process: a headless acquisition on
// the built-in simulated instrument, the usage text and a wrong switch. Each
// run gets a private working folder, settings file, home and lock folder,
// so that nothing of the user's is read or touched.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QImage>
#include <map>
#include <sstream>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/app/ProgramRuns.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;
using OrlaqLidar::Test::TProgramRuns;
using OrlaqLidar::Test::TRun;

namespace {

class SkyvaneProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs::exists(exe_)) << exe_ << " is not built"; }
  TRun Run(const std::vector<std::string>& args, int timeoutMs) { return runs_.Run(exe_, args, timeoutMs); }

  TProgramRuns runs_;
  const fs::path exe_ = OrlaqLidar::Test::BinDir() / "skyvane";
  const fs::path& work_ = runs_.Work;
  const fs::path& home_ = runs_.Home;
};

// Groups of the last line of the output that matches re; empty when none does.
std::vector<std::string> LastMatch(const std::string& out, const std::regex& re) {
  std::vector<std::string> groups;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, re)) continue;
    groups.assign(m.begin(), m.end());
  }
  return groups;
}

// "<date> <time> | <connection> | <power> | shots 1:<n> 2:<n> ... | <r> rec/s | alarm: <text>"
const std::regex StatusLine(
    R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \| (Connected|Connecting|Disconnected) \| ([A-Za-z ]+) \| shots ((?:\d+:\d+ ?)+) \| (\d+\.\d) rec/s \| alarm: (.*)$)");

std::map<int, int> ShotCounts(const std::string& text) {
  std::map<int, int> counts;
  static const std::regex pair(R"((\d+):(\d+))");
  for (std::sregex_iterator it(text.begin(), text.end(), pair), end; it != end; ++it)
    counts[std::stoi((*it)[1])] = std::stoi((*it)[2]);
  return counts;
}

TEST_F(SkyvaneProgramTest, HeadlessSimulatedRunRecordsAFileAndEndsCleanly) {
  const fs::path model = runs_.QuickDefinition();
  const TRun run = Run({"-SIMULATE", "-HEADLESS", "-DURATION=6", "-MODEL", model.string()}, 30000);
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;

  // Acquisition mode on the private settings file and the definition asked for.
  EXPECT_NE(run.Out.find("Skyvane: acquisition mode, settings " + runs_.Settings.string() + ", instrument \"Orlaq Demo "
                         "532/1064\" (3 lidar, 1 monitoring channels) from " + model.string()),
            std::string::npos)
      << run.Out;
  EXPECT_NE(run.Out.find("Stopping: laser off, then disconnect"), std::string::npos) << run.Out;
  // The final status line: still connected, shots on every lidar channel.
  const std::vector<std::string> status = LastMatch(run.Out, StatusLine);
  ASSERT_FALSE(status.empty()) << run.Out;
  EXPECT_EQ(status[1], "Connected");
  const std::map<int, int> shots = ShotCounts(status[3]);
  EXPECT_EQ(shots.size(), 3u) << status[3];
  for (int id : {1, 2, 3}) EXPECT_GT(shots.count(id) ? shots.at(id) : 0, 0) << "channel " << id << ": " << status[3];
  // The simulated housekeeping values drift across their warning limits now
  // and then, so the alarm field is only checked for presence.
  EXPECT_FALSE(status[5].empty());
  // Seconds with a decimal point whatever the locale.
  std::smatch stopped;
  ASSERT_TRUE(std::regex_search(run.Out, stopped, std::regex(R"(Stopped after (\d+)\.(\d) s, (\d+) records received)")))
      << run.Out;
  EXPECT_GE(std::stoi(stopped[1]), 6);
  EXPECT_LT(std::stoi(stopped[1]), 20);
  EXPECT_GT(std::stoi(stopped[3]), 0);

  // One recorded file under LidData/DIR_<serial>/<yyyymm>/, whole and readable.
  const auto files = runs_.RecordedFiles();
  ASSERT_EQ(files.size(), 1u) << run.Out << run.Err;
  const fs::path& file = files.front();
  EXPECT_TRUE(std::regex_match(file.parent_path().filename().string(), std::regex(R"(\d{6})"))) << file;
  EXPECT_EQ(file.parent_path().parent_path().filename().string().rfind("DIR_", 0), 0u) << file;
  EXPECT_EQ(file.parent_path().parent_path().parent_path(), work_ / "LidData") << file;

  TApplicationConfig settings;
  TIniFile definition(model.string());
  ASSERT_TRUE(settings.LidarConfig.Load(definition));
  TLidFileAccess reader(file, settings);
  ASSERT_EQ(reader.OpenForReading(), 0) << file;
  std::map<int, int> blocks;
  std::map<int, std::vector<size_t>> sizes;
  reader.OnData = [&](int channel, const uint8_t*, size_t size, TDateTime) {
    ++blocks[channel];
    sizes[channel].push_back(size);
  };
  while (reader.ReadBlocks(1000) > 0) {
  }
  EXPECT_TRUE(reader.EndMarkReached()) << "the file was not closed";
  for (int id : {1, 2, 3}) {
    EXPECT_GT(blocks[id], 0) << "no shots of channel " << id;
    for (size_t s : sizes[id]) EXPECT_EQ(s, 2048u * 4 + 16) << "channel " << id;
  }
  // Nothing of the user's was read or written.
  EXPECT_FALSE(fs::exists(home_ / ".config")) << "the user's settings folder was touched";
}

TEST_F(SkyvaneProgramTest, HeadlessRunOfTheShippedInstrumentConnectsAndEndsCleanly) {
  // No definition configured: the run takes the one shipped with the program.
  const TRun run = Run({"-SIMULATE", "-HEADLESS", "-DURATION=6"}, 30000);
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("OrlaqDemo2W.ini"), std::string::npos) << run.Out;
  const std::vector<std::string> status = LastMatch(run.Out, StatusLine);
  ASSERT_FALSE(status.empty()) << run.Out;
  EXPECT_EQ(status[1], "Connected") << run.Out;
  EXPECT_NE(run.Out.find("records received"), std::string::npos) << run.Out;
  EXPECT_FALSE(fs::exists(home_ / ".config"));
}

TEST_F(SkyvaneProgramTest, ACopyFromAnotherSessionDoesNotDriveTheInstrumentOfTheSameDataFolder) {
  // A service and a desktop login: the single-instance locks live in two
  // runtime folders, the data folder is the same.
  const fs::path model = runs_.QuickDefinition();
  const std::vector<std::string> args = {"-SIMULATE", "-HEADLESS", "-DURATION=8", "-MODEL", model.string()};
  const pid_t first = runs_.Start(exe_, args, "first");
  ASSERT_GT(first, 0);
  for (int i = 0; i < 750 && ReadTextFile(runs_.Dir / "first.out").value_or("").find("acquisition mode") ==
                                 std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const fs::path otherSession = runs_.Dir / "session2";
  fs::create_directories(otherSession);
  const TRun second = runs_.Run(exe_, args, 30000, "second", {"XDG_RUNTIME_DIR=" + otherSession.string()});

  EXPECT_EQ(second.ExitCode, 0) << second.Out << second.Err;
  EXPECT_NE(second.Out.find("Skyvane: reader mode"), std::string::npos) << second.Out;
  const std::string why = "Running as a reader: the data folder " + (work_ / "LidData").string() +
                          " is in use by another copy of the program (process " + std::to_string(first) + ")";
  EXPECT_NE(second.Err.find(why), std::string::npos) << second.Err;
  EXPECT_TRUE(LastMatch(second.Out, StatusLine).empty()) << "the second copy acquired:" << second.Out;
  // Its message log is also on disk, lines as on standard error.
  std::string logged;
  for (const auto& e : fs::directory_iterator(work_ / "LidLog")) logged += ReadTextFile(e.path()).value_or("");
  EXPECT_NE(logged.find(why), std::string::npos) << logged;

  ASSERT_EQ(runs_.Wait(first, 30000), 0) << runs_.Output("first");
  EXPECT_FALSE(LastMatch(ReadTextFile(runs_.Dir / "first.out").value_or(""), StatusLine).empty());
  EXPECT_EQ(runs_.RecordedFiles().size(), 1u);
}

// "<time> | files <done>/<named> | blocks <n> | <r> blocks/s | <state>"
const std::regex ReplayLine(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \| files (\d+)/(\d+) \| blocks (\d+) \| \d+\.\d blocks/s \| (.*)$)");

TEST_F(SkyvaneProgramTest, ASecondCopyIsAReaderAndNamedRecordingsAreReplayedWithoutWindows) {
  const fs::path model = runs_.QuickDefinition();
  const pid_t first =
      runs_.Start(exe_, {"-SIMULATE", "-HEADLESS", "-DURATION=6", "-MODEL", model.string()}, "first");
  ASSERT_GT(first, 0);
  for (int i = 0; i < 750 && ReadTextFile(runs_.Dir / "first.out").value_or("").find("acquisition mode") ==
                                 std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // Same session, same folders: never a second acquisition.
  const TRun second = runs_.Run(exe_, {"-SIMULATE", "-HEADLESS", "-MODEL", model.string()}, 30000, "second");
  EXPECT_EQ(second.ExitCode, 0) << second.Out << second.Err;
  EXPECT_NE(second.Out.find("Skyvane: reader mode"), std::string::npos) << second.Out;
  EXPECT_NE(second.Err.find("Running as a reader: another copy of the program runs in this session"),
            std::string::npos)
      << second.Err;
  EXPECT_TRUE(LastMatch(second.Out, StatusLine).empty()) << "the second copy acquired:" << second.Out;
  ASSERT_EQ(runs_.Wait(first, 30000), 0) << runs_.Output("first");

  const auto files = runs_.RecordedFiles();
  ASSERT_EQ(files.size(), 1u);
  TApplicationConfig settings;
  TLidFileAccess file(files.front(), settings);
  ASSERT_EQ(file.MakeIndex(), 0);
  const size_t recorded = file.IndexCount();
  ASSERT_GT(recorded, 0u);

  // Named twice: read once.
  const TRun replay = Run({"-MODEL", model.string(), files.front().string(), files.front().string()}, 30000);
  ASSERT_EQ(replay.ExitCode, 0) << replay.Out << replay.Err;
  EXPECT_NE(replay.Out.find("Skyvane: reader mode"), std::string::npos) << replay.Out;
  const std::vector<std::string> status = LastMatch(replay.Out, ReplayLine);
  ASSERT_FALSE(status.empty()) << replay.Out;
  EXPECT_EQ(status[1], "1");
  EXPECT_EQ(status[2], "1");
  EXPECT_EQ(status[3], std::to_string(recorded));
  EXPECT_EQ(status[4], "Done");
  EXPECT_NE(replay.Out.find("Replayed " + std::to_string(recorded) + " blocks"), std::string::npos) << replay.Out;

  // A file that is no recording among them: its line, the others replayed, a failed run.
  const fs::path notes = runs_.Dir / "notes.txt";
  std::ofstream(notes) << "field notes\n";
  const TRun mixed = Run({notes.string(), files.front().string()}, 30000);
  EXPECT_EQ(mixed.ExitCode, 1) << mixed.Out << mixed.Err;
  EXPECT_NE(mixed.Err.find("skyvane: " + notes.string() + ": refused, not a .skv2 recording"), std::string::npos)
      << mixed.Err;
  EXPECT_NE(mixed.Out.find("Replayed " + std::to_string(recorded) + " blocks from 1 of 2 files"), std::string::npos)
      << mixed.Out;
  EXPECT_EQ(runs_.RecordedFiles().size(), 1u);
}

TEST_F(SkyvaneProgramTest, AModelThatCannotBeUsedEndsTheRunWithItsReason) {
  const fs::path folder = runs_.Dir / "AFolder.ini";
  fs::create_directories(folder);
  const fs::path fifo = runs_.Dir / "Fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path refused = runs_.Dir / "Refused.ini";
  std::ofstream(refused) << "[ChannelGroup1]\nGroupID=1\n[Channel1]\nRecordID=300\nGroupID=1\nName=A\nUSB=A\n";
  const std::pair<fs::path, std::string> cases[] = {
      {runs_.Dir / "Missing.ini", "does not exist"},
      {folder, "is a folder, not a file"},
      {fifo, "is not a regular file"},
      {refused, "refused: [Channel1] RecordID=300 is out of range"},
  };
  for (const auto& [model, reason] : cases) {
    // Never the shipped definition instead, whether simulated or a reader.
    for (const std::vector<std::string>& extra : {std::vector<std::string>{"-SIMULATE", "-HEADLESS", "-DURATION=20"},
                                                  std::vector<std::string>{}}) {
      std::vector<std::string> args = extra;
      args.insert(args.end(), {"-MODEL", model.string()});
      const TRun run = Run(args, 15000);
      EXPECT_EQ(run.ExitCode, 1) << model << run.Out << run.Err;
      EXPECT_NE(run.Err.find("skyvane: instrument definition " + model.string() + " " + reason), std::string::npos)
          << run.Err;
      EXPECT_EQ(run.Out.find("OrlaqDemo2W"), std::string::npos) << run.Out;
    }
  }
  EXPECT_TRUE(runs_.RecordedFiles().empty());
}

TEST_F(SkyvaneProgramTest, AWindowRunOffscreenSavesAPictureOfTheMainWindow) {
  const fs::path model = runs_.QuickDefinition();
  const fs::path png = runs_.Dir / "mw.png";
  // The form without the dash is accepted as well.
  const TRun run = runs_.Run(exe_, {"-SIMULATE", "-DURATION=6", "SCREENSHOT=" + png.string(), "-MODEL", model.string()},
                             60000, "window", {"QT_QPA_PLATFORM=offscreen"});
  ASSERT_EQ(run.ExitCode, 0) << run.Out << run.Err;
  EXPECT_NE(run.Out.find("Skyvane: acquisition mode with the main window"), std::string::npos) << run.Out;
  const QImage image(QString::fromStdString(png.string()));
  ASSERT_FALSE(image.isNull()) << run.Out << run.Err;
  EXPECT_GE(image.width(), 800);
  EXPECT_TRUE(LastMatch(run.Out, StatusLine).empty()) << "no headless status lines in a window run";
  EXPECT_EQ(runs_.RecordedFiles().size(), 1u) << "the window run acquires and records";
}

TEST_F(SkyvaneProgramTest, HelpPrintsTheUsageAndExits) {
  for (const char* sw : {"-HELP", "--help", "-h"}) {
    const TRun run = Run({sw}, 15000);
    EXPECT_EQ(run.ExitCode, 0) << sw << "\n" << run.Err;
    EXPECT_EQ(run.Out.rfind("usage: skyvane", 0), 0u) << sw << ": " << run.Out;
    for (const char* item : {"-MODEL", "-SIMULATE", "-HEADLESS", "-DURATION=", "-HELP"})
      EXPECT_NE(run.Out.find(item), std::string::npos) << sw << " lacks " << item;
  }
  EXPECT_TRUE(runs_.RecordedFiles().empty());
}

TEST_F(SkyvaneProgramTest, UnknownSwitchIsReportedOnStandardError) {
  // A file named on the command line makes this a reader that ends at once,
  // refusing the file for what it is.
  const fs::path file = runs_.Dir / "some.skv2";
  std::ofstream(file) << "x";
  const TRun run = Run({"-NOSUCHSWITCH", file.string()}, 15000);
  EXPECT_EQ(run.ExitCode, 1) << run.Err;
  EXPECT_NE(run.Err.find("skyvane: " + file.string() + ": refused, not a readable recorded data file"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Err.find("unknown switch -NOSUCHSWITCH"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("usage: skyvane"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Out.find("NOSUCHSWITCH"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("reader mode"), std::string::npos) << run.Out;
}

}  // namespace
