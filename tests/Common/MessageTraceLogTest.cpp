// The message-trace window's lines: bounded, optionally stamped, copied to
// the auto-save file.
#include "Common/MessageTraceLog.h"

#include <gtest/gtest.h>

#include "Common/FileUtils.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

const TDateTime Noon = EncodeDateTime(2026, 6, 15, 12, 0, 0, 250);

TEST(MessageTraceLog, TheMaximumDropsTheOldestLinesAndZeroKeepsAll) {
  TMessageTraceLog log;
  for (int i = 1; i <= 1000; ++i) EXPECT_EQ(log.Add(std::to_string(i), Noon), 0u);
  EXPECT_EQ(log.Add("1001", Noon), 1u);
  EXPECT_EQ(log.Lines().Size(), 1000u);
  EXPECT_EQ(log.Lines()[0], "2");

  log.SetMaximum(0);
  for (int i = 0; i < 500; ++i) log.Add("more", Noon);
  EXPECT_EQ(log.Lines().Size(), 1500u);
  EXPECT_EQ(log.SetMaximum(10), 1490u) << "a lower maximum trims at once";
  EXPECT_EQ(log.Lines()[0], "more");
}

TEST(MessageTraceLog, StampsAndAutoSave) {
  OrlaqLidar::Test::TTempDir dir;
  TMessageTraceLog log;
  log.SetAutoSave(dir / "saved.txt");
  log.Add("plain", Noon);
  log.TimeStamps = true;
  log.Add("stamped", Noon);
  EXPECT_EQ(log.Lines().Back(), "2026/06/15,12:00:00.250;stamped");
  log.SetAutoSave({});
  log.Add("not saved", Noon);
  EXPECT_EQ(ReadTextFile(dir / "saved.txt").value_or(""), "plain\r\n15/06/2026,12:00:00.250,stamped\r\n");

  ASSERT_TRUE(log.SaveTo(dir / "all.txt"));
  EXPECT_EQ(ReadTextFile(dir / "all.txt").value_or(""),
            "plain\r\n2026/06/15,12:00:00.250;stamped\r\n2026/06/15,12:00:00.250;not saved\r\n");
}

}  // namespace
}  // namespace OrlaqLidar
