#include "kernel/ErrorLogger.h"

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

using namespace OrlaqLidar;

class ErrorLoggerTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  ErrorLoggerTest() { TErrorLogger::Instance().Attach(Loop); }
  TErrorLogger& Logger() { return TErrorLogger::Instance(); }
  static bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
  }
};

TEST_F(ErrorLoggerTest, ABurstOf250IsSummarisedByHundredsThenByTheTimer) {
  for (int i = 0; i < 250; ++i) Log("USB error");
  ASSERT_EQ(LogLines.size(), 3u);
  EXPECT_TRUE(EndsWith(LogLines[0], " > USB error"));
  EXPECT_TRUE(EndsWith(LogLines[1], " repeated 100 time(s)"));
  EXPECT_TRUE(EndsWith(LogLines[2], " repeated 100 time(s)"));
  Loop.AdvanceMs(30000);
  EXPECT_EQ(LogLines.size(), 3u);
  Loop.AdvanceMs(1000);
  ASSERT_EQ(LogLines.size(), 4u);
  EXPECT_TRUE(EndsWith(LogLines[3], " repeated 49 time(s)"));
  // The last message is remembered after a flush: the same text is counted again.
  Log("USB error");
  EXPECT_EQ(LogLines.size(), 4u);
  EXPECT_EQ(Logger().RepeatCount(), 1);
}

TEST_F(ErrorLoggerTest, ASingleRepeatIsShownAsAnOrdinaryLineWithItsOwnTime) {
  Log("first");
  Clock.AdvanceMs(1234);
  const std::string stamp = FormatDateTime(Clock.NowUTC());
  Log("first");
  Clock.AdvanceMs(1000);
  Log("second");
  ASSERT_EQ(LogLines.size(), 3u);
  EXPECT_EQ(LogLines[1], stamp + " > first");
  EXPECT_TRUE(EndsWith(LogLines[2], " > second"));
  EXPECT_EQ(LogLines[2].substr(0, 23), FormatDateTime(Clock.NowUTC()));
}

TEST_F(ErrorLoggerTest, AContinuousRepeatIsSummarisedAtLeastEvery91Seconds) {
  Log("noise");
  for (int s = 0; s < 200; ++s) {
    Log("noise");
    Loop.AdvanceMs(1000);
  }
  // Repeats never pause 31 s, so only the 91 s rule flushes: at 91 s and 182 s.
  ASSERT_EQ(LogLines.size(), 3u);
  EXPECT_TRUE(EndsWith(LogLines[1], " repeated 91 time(s)"));
  EXPECT_TRUE(EndsWith(LogLines[2], " repeated 91 time(s)"));
}

TEST_F(ErrorLoggerTest, MessagesWithoutASinkAreDropped) {
  Logger().SetSink(nullptr);
  Log("lost");
  Logger().SetSink([this](const std::string& l) { LogLines.push_back(l); });
  Log("kept");
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_TRUE(EndsWith(LogLines[0], " > kept"));
}

TEST_F(ErrorLoggerTest, LogAtNamesTheUnitAndLine) {
  LogAt("/src/kernel/LidarManager.cpp", 42, "Data not valids");
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_TRUE(EndsWith(LogLines[0], " > LidarManager[42] : Data not valids"));
}

TEST_F(ErrorLoggerTest, TwoMessagesTakingTurnsAreCollapsedAndNamed) {
  // A full disk: the write failure and its consequence, over and over.
  for (int i = 0; i < 300; ++i) {
    Log("Write error");
    Log("Record dropped");
  }
  const std::vector<std::string> burst(LogLines);
  ASSERT_EQ(burst.size(), 6u);
  EXPECT_TRUE(EndsWith(burst[0], " > Write error"));
  EXPECT_TRUE(EndsWith(burst[1], " > Record dropped"));
  for (size_t i = 2; i < 6; i += 2) {
    EXPECT_TRUE(EndsWith(burst[i], " repeated 100 time(s): Write error")) << burst[i];
    EXPECT_TRUE(EndsWith(burst[i + 1], " repeated 100 time(s): Record dropped")) << burst[i + 1];
  }
  // The rest is shown once the pair has been quiet for a while.
  Loop.AdvanceMs(31000);
  ASSERT_EQ(LogLines.size(), 8u);
  EXPECT_TRUE(EndsWith(LogLines[6], " repeated 99 time(s): Write error"));
  EXPECT_TRUE(EndsWith(LogLines[7], " repeated 99 time(s): Record dropped"));
}

TEST_F(ErrorLoggerTest, ANewMessageEndsTheRepetitionAndIsWrittenAtOnce) {
  Log("A");
  Log("B");
  for (int i = 0; i < 5; ++i) {
    Log("A");
    Log("B");
  }
  Log("C");
  ASSERT_EQ(LogLines.size(), 5u);
  EXPECT_TRUE(EndsWith(LogLines[2], " repeated 5 time(s): A"));
  EXPECT_TRUE(EndsWith(LogLines[3], " repeated 5 time(s): B"));
  EXPECT_TRUE(EndsWith(LogLines[4], " > C"));
}

TEST_F(ErrorLoggerTest, TheWindowIsBoundedAndForgetsMessagesGoneQuiet) {
  // A cycle longer than the window is never taken for a repetition.
  const int cycle = static_cast<int>(TErrorLogger::WindowSize) + 1;
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < cycle; ++i) Log("message " + std::to_string(i));
  EXPECT_EQ(LogLines.size(), static_cast<size_t>(2 * cycle));
  EXPECT_EQ(Logger().RepeatCount(), 0);

  // A message of a pair coming back after a long pause is news, written at once.
  LogLines.clear();
  Log("Laser on");
  Log("Laser off");
  Loop.AdvanceMs(40000);
  Log("Laser on");
  ASSERT_EQ(LogLines.size(), 3u);
  EXPECT_TRUE(EndsWith(LogLines[2], " > Laser on"));
}
