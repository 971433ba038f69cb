// The soak's judge and its fault schedule, on figures made up for the
// purpose: a leaked descriptor, a reconnection that never came, records
// lost outside a fault window must each fail the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "soak/SoakCheck.h"
#include "soak/SoakSchedule.h"
#include "soak/SoakTally.h"

using namespace OrlaqLidar;

namespace {

TSoakFigures Passing() {
  TSoakFigures f;
  f.Channels = {{1, "532", 1000, 990, 10, 0, 0}, {99, "INS", 500, 500, 0, 0, 0}};
  f.HoursWithLaser = 24;
  f.Files = 24;
  f.ExportFiles = 144;
  f.ExportedProfiles = 4320;
  f.Faults = {{"lidar", 5, 5}, {"INS", 2, 2}};
  f.AtBaseline = {50000, 12};
  f.AtEnd = {52000, 12};
  return f;
}

bool Mentions(const std::vector<std::string>& failures, const std::string& part) {
  return std::any_of(failures.begin(), failures.end(),
                     [&](const std::string& f) { return f.find(part) != std::string::npos; });
}

TEST(SoakCheckTest, EachKindOfFaultFailsTheRun) {
  EXPECT_TRUE(TSoakCheck::Failures(Passing()).empty());

  const struct {
    const char* what;
    void (*spoil)(TSoakFigures&);
    const char* says;
  } cases[] = {
      {"a leaked descriptor", [](TSoakFigures& f) { f.AtEnd.Descriptors += 1; }, "descriptors grew from 12 to 13"},
      {"a dropped reconnection", [](TSoakFigures& f) { f.Faults[0].Recovered = 4; }, "lidar: 1 of 5 not recovered"},
      {"records lost outside a fault", [](TSoakFigures& f) { f.Channels[1].MissingOutside = 3; },
       "channel 99: 3 records lost outside"},
      {"records never delivered", [](TSoakFigures& f) { f.Channels[0].Extra = 1; }, "never delivered"},
      {"a channel that never delivered", [](TSoakFigures& f) { f.Channels[0].Delivered = 0; }, "nothing delivered"},
      {"memory growing", [](TSoakFigures& f) { f.AtEnd.ResidentKb = f.AtBaseline.ResidentKb + 5 * 1024; },
       "resident memory grew"},
      {"an hour without its file", [](TSoakFigures& f) { f.MissingHourFiles = {"202701/..._20270101_0000.skv2"}; },
       "20270101_0000"},
      {"a file without end mark", [](TSoakFigures& f) { f.InvalidFiles = {"x.skv2: no end mark"}; }, "no end mark"},
      {"a laser never on", [](TSoakFigures& f) { f.HoursWithLaser = 0; }, "never on"},
      {"an hour not exported", [](TSoakFigures& f) { f.MissingHourExports = {"2027-01-01 03:00:00"}; }, "03:00"},
      {"nothing exported", [](TSoakFigures& f) { f.ExportedProfiles = 0; }, "no profile exported"},
  };
  for (const auto& c : cases) {
    TSoakFigures f = Passing();
    c.spoil(f);
    const auto failures = TSoakCheck::Failures(f);
    EXPECT_EQ(failures.size(), 1u) << c.what;
    EXPECT_TRUE(Mentions(failures, c.says)) << c.what << ": " << (failures.empty() ? "" : failures[0]);
  }

  // Memory within the bound passes; unjudged memory never fails.
  TSoakFigures f = Passing();
  f.AtEnd.ResidentKb = f.AtBaseline.ResidentKb + 4 * 1024;
  EXPECT_TRUE(TSoakCheck::Failures(f).empty());
  f.AtEnd.ResidentKb += 1000000;
  f.ResidentChecked = false;
  EXPECT_TRUE(TSoakCheck::Failures(f).empty());
}

TEST(SoakCheckTest, TallyExcusesOnlyTheChannelsOfAFaultWindow) {
  const TDateTime start = EncodeDateTime(2026, 12, 31, 23, 0, 0);
  TSoakTally tally(start, 3 * TSoakSchedule::MinuteMs, {1, 99});
  auto at = [&](int second) { return start + second / SecondsPerDay; };
  for (int s = 0; s < 180; ++s) {
    tally.Delivered(1, at(s));
    tally.Delivered(99, at(s));
    if (s < 60 || s >= 120) tally.Recorded(1, at(s));  // minute 1 lost for both
    if (s < 60 || s >= 120) tally.Recorded(99, at(s));
  }
  tally.Delivered(1, at(-1));   // before the span: not counted
  tally.Delivered(1, at(180));  // after it
  tally.FaultWindow(70000, 80000, {99});  // the INS alone, inside minute 1
  const auto lidar = tally.Summary(1);
  EXPECT_EQ(lidar.Delivered, 180u);
  EXPECT_EQ(lidar.Recorded, 120u);
  EXPECT_EQ(lidar.MissingOutside, 60u);
  const auto ins = tally.Summary(99);
  EXPECT_EQ(ins.MissingInFaults, 60u);
  EXPECT_EQ(ins.MissingOutside, 0u);
  // A record found twice is not excused by a fault window.
  tally.Recorded(99, at(61));
  EXPECT_EQ(tally.Summary(99).Extra, 0u);  // still fewer than delivered in that minute
  for (int s = 0; s < 61; ++s) tally.Recorded(99, at(60));
  EXPECT_EQ(tally.Summary(99).Extra, 2u);
}

TEST(SoakCheckTest, AWeekHasEveryFaultAtItsRateApartFromTheOthers) {
  const uint64_t week = 7 * 24 * TSoakSchedule::HourMs;
  const auto faults = TSoakSchedule::Build(week, {0, 1, 2}, 3, {1, 2});
  std::map<TSoakFaultKind, int> count;
  std::map<int, int> unplugged;
  for (const auto& f : faults) {
    ++count[f.Kind];
    if (f.Kind == TSoakFaultKind::LidarUnplug) ++unplugged[f.Target];
  }
  EXPECT_EQ(count[TSoakFaultKind::LidarUnplug], 34);   // 168 h / 5 h
  EXPECT_EQ(count[TSoakFaultKind::MonitorUnplug], 24);  // 168 h / 7 h
  EXPECT_EQ(count[TSoakFaultKind::InsLoss], 14);
  EXPECT_EQ(count[TSoakFaultKind::LaserWatchdog], 7);
  EXPECT_EQ(count[TSoakFaultKind::DataFolderFull], 1);
  EXPECT_EQ(unplugged.size(), 3u);  // every lidar board in turn
  // In time order, and no fault starts within 5 minutes of another's end nor
  // within a minute of an hour mark, where the recorder changes files.
  for (size_t i = 0; i < faults.size(); ++i) {
    const uint64_t minuteOfHour = faults[i].StartMs % TSoakSchedule::HourMs / TSoakSchedule::MinuteMs;
    EXPECT_TRUE(minuteOfHour >= 1 && minuteOfHour <= 55) << i;
    if (i == 0) continue;
    EXPECT_LE(faults[i - 1].StartMs, faults[i].StartMs);
    EXPECT_GE(faults[i].StartMs, faults[i - 1].StartMs + faults[i - 1].DurationMs + 5 * TSoakSchedule::MinuteMs)
        << i;
  }
}

}  // namespace
