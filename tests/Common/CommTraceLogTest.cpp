// The communication-details window's logic: bytes rendered readable, the
// sources chosen by the operator, the bounded rows and the shared log file.
#include "Common/CommTraceLog.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <regex>
#include <sstream>
#include <thread>

#include "Common/FileUtils.h"
#include "Common/TraceText.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

const TDateTime Noon = EncodeDateTime(2026, 6, 15, 12, 0, 0, 7);

int Trace(TCommTraceLog& log, const std::string& source, const std::string& bytes) {
  return log.Trace(source, '<', reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()), Noon,
                   Noon).RowAdded;
}

TEST(CommTraceLog, BytesAreRenderedReadable) {
  EXPECT_EQ(TTraceText::Render(std::string("\x02" "AB\x03", 4)), "[[02]]AB[[03]]");
  EXPECT_EQ(TTraceText::Render("50%"), "50%%");
  EXPECT_EQ(TTraceText::Render("a|b"), "a[[7C]]b");
  EXPECT_EQ(TTraceText::Render(std::string("\x00\xFF|~ ", 5)), "[[00FF7C]]~ ") << "one run, closed before a copied byte";
  EXPECT_EQ(TTraceText::Render(nullptr, 3), "");
  EXPECT_EQ(TTraceText::FileStamp(Noon), "15/06/2026,12:00:00.007,");
  EXPECT_EQ(TTraceText::LineStamp(Noon), "2026/06/15,12:00:00.007;");
}

TEST(CommTraceLog, ANewSourceFollowsCheckAll) {
  TCommTraceLog log;
  EXPECT_FALSE(Trace(log, "DEV P", "Q"));
  ASSERT_EQ(log.Sources.Items().size(), 1u);
  EXPECT_FALSE(log.Sources.Items()[0].Checked);
  EXPECT_TRUE(log.Rows().Empty());

  log.Sources.SetCheckAll(true);
  EXPECT_TRUE(log.Sources.Items()[0].Checked);
  EXPECT_TRUE(Trace(log, "Lidar", "x")) << "added checked, like Check all";
  log.Sources.SetChecked(0, false);
  EXPECT_FALSE(Trace(log, "DEV P", "Q"));
  EXPECT_TRUE(Trace(log, "Lidar", "y"));
  log.Sources.SetCheckAll(false);
  EXPECT_FALSE(Trace(log, "Lidar", "z"));
  ASSERT_EQ(log.Rows().Size(), 2u);
  EXPECT_EQ(log.Rows()[0].Time, FormatDateTime(Noon));
  EXPECT_EQ(log.Rows()[1].Kind, '<');
}

TEST(CommTraceLog, RowsAreBoundedAndMessagesCut) {
  TCommTraceLog log;
  log.Sources.SetCheckAll(true);
  const std::string long_(400, '\x01');
  for (int i = 0; i < TCommTraceLog::MaxRows; ++i) Trace(log, "S", std::to_string(i));
  EXPECT_EQ(log.Trace("S", '>', reinterpret_cast<const uint8_t*>(long_.data()), 400, Noon, Noon).RowsRemoved, 1u);
  EXPECT_EQ(log.Rows().Size(), static_cast<size_t>(TCommTraceLog::MaxRows));
  EXPECT_EQ(log.Rows()[0].Message, "1");
  EXPECT_EQ(log.Rows().Back().Length, 400);
  EXPECT_EQ(log.Rows().Back().Message.size(), TCommTraceLog::MessageChars);
}

TEST(CommTraceLog, ShownTracesGoToTheLogFileInAFolderMadeForIt) {
  OrlaqLidar::Test::TTempDir dir;
  TCommTraceLog log;
  log.Sources.SetCheckAll(true);
  log.LogToFile = true;
  ASSERT_TRUE(log.SetLogFolder((dir / "a/b").string()));
  EXPECT_EQ(log.LogFile(), dir / "a/b/CommLog.txt");
  Trace(log, "DEV P", std::string("\x02" "5%", 3));
  log.Sources.SetCheckAll(false);
  Trace(log, "DEV P", "hidden");
  EXPECT_EQ(ReadTextFile(log.LogFile()).value_or(""), "15/06/2026,12:00:00.007,DEV P <[3][[02]]5%%\r\n");

  dir.WriteFile("plain", "x");
  EXPECT_FALSE(log.SetLogFolder((dir / "plain/sub").string())) << "a file where the folder should be";
  EXPECT_TRUE(log.LogFile().empty());
  EXPECT_FALSE(log.SetLogFolder(""));
}

TEST(LineAppendFile, TwoWritersInterleaveWholeLinesAndALineThatCannotBeWrittenIsLost) {
  OrlaqLidar::Test::TTempDir dir;
  const auto path = dir / "CommLog.txt";
  constexpr int Lines = 400;
  auto writer = [&path](char who) {
    TLineAppendFile file(path);
    const std::string text = std::string(200, who);
    for (int i = 0; i < Lines; ++i) file.Append(text + std::to_string(i));
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  std::istringstream in(ReadTextFile(path).value_or(""));
  const std::regex whole("(a{200}|b{200})\\d+\r");
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) ASSERT_TRUE(std::regex_match(line, whole)) << line;
  EXPECT_EQ(count, 2 * Lines);

  int pauses = 0;
  TLineAppendFile folder(dir.Path(), [&pauses](int) { ++pauses; });
  EXPECT_FALSE(folder.Append("lost"));
  EXPECT_FALSE(TLineAppendFile(dir / "missing/x.txt").Append("lost"));
  EXPECT_EQ(pauses, 0) << "nothing that waiting would mend";
}

TEST(LineAppendFile, AnOpeningRefusedForAWhileIsTriedAgainUpToFifteenTimes) {
  OrlaqLidar::Test::TTempDir dir;
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  auto limitFiles = [&saved](rlim_t n) {
    rlimit l = saved;
    l.rlim_cur = n;
    return setrlimit(RLIMIT_NOFILE, &l) == 0;
  };
  // No descriptor left: the opening fails until the pause frees some.
  int pauses = 0;
  TLineAppendFile file(dir / "a.txt", [&](int ms) {
    EXPECT_EQ(ms, TLineAppendFile::RetryPauseMs);
    if (++pauses == 2) limitFiles(saved.rlim_cur);
  });
  ASSERT_TRUE(limitFiles(0));
  const bool written = file.Append("third try");
  limitFiles(saved.rlim_cur);
  EXPECT_TRUE(written);
  EXPECT_EQ(pauses, 2);

  pauses = 0;
  TLineAppendFile never(dir / "a.txt", [&pauses](int) { ++pauses; });
  ASSERT_TRUE(limitFiles(0));
  const bool lost = !never.Append("lost");
  limitFiles(saved.rlim_cur);
  EXPECT_TRUE(lost);
  EXPECT_EQ(pauses, TLineAppendFile::OpenTries - 1);
  EXPECT_EQ(ReadTextFile(dir / "a.txt").value_or(""), "third try\r\n");
}

}  // namespace
}  // namespace OrlaqLidar
