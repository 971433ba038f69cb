#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "Platform/ManualLoop.h"
#include "Platform/SettingsStore.h"
#include "Platform/SingleInstance.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;

TEST(SingleInstance, TheSecondHolderFindsTheLockTakenUntilTheFirstEnds) {
  TTempDir dir;
  auto first = std::make_unique<TSingleInstance>("SkyvaneMutex", dir.Path().string());
  EXPECT_FALSE(first->AlreadyExists());
  {
    TSingleInstance second("SkyvaneMutex", dir.Path().string());
    EXPECT_TRUE(second.AlreadyExists());
    EXPECT_FALSE(second.Held());
    EXPECT_EQ(second.HolderPid(), static_cast<long>(::getpid()));  // who holds it can be told
  }
  first.reset();
  TSingleInstance third("SkyvaneMutex", dir.Path().string());
  EXPECT_FALSE(third.AlreadyExists());
}

TEST(ManualLoop, TimersFireInSimulatedTimeInOrderAndPostsRunBetween) {
  TManualClock clock;
  TManualLoop loop(clock);
  std::vector<std::string> trace;
  const uint64_t t0 = clock.TickMs();
  loop.StartTimer(100, [&] { trace.push_back("fast@" + std::to_string(clock.TickMs() - t0)); });
  TMainLoop::TTimerId slow = 0;
  slow = loop.StartTimer(250, [&] {
    trace.push_back("slow@" + std::to_string(clock.TickMs() - t0));
    loop.Post([&] { trace.push_back("posted"); });
    loop.StopTimer(slow);
  });
  loop.AdvanceMs(300);
  EXPECT_EQ(trace, (std::vector<std::string>{"fast@100", "fast@200", "slow@250", "posted", "fast@300"}));
  EXPECT_EQ(clock.TickMs() - t0, 300u);
  int calls = 0;
  loop.SetIdleHandler([&] { return ++calls < 5; });
  EXPECT_EQ(loop.RunIdle(), 5);
}

TEST(SettingsStore, PathComesFromTheEnvironment) {
  const char* saved = std::getenv("SKYVANE_SETTINGS");
  const std::string keep = saved ? saved : "";
  setenv("SKYVANE_SETTINGS", "/tmp/x/s.ini", 1);
  EXPECT_EQ(SettingsFilePath(), "/tmp/x/s.ini");
  unsetenv("SKYVANE_SETTINGS");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(SettingsFilePath(), "/cfg/Orlaq/Skyvane.ini");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/op", 1);
  EXPECT_EQ(SettingsFilePath(), "/home/op/.config/Orlaq/Skyvane.ini");
  if (saved) setenv("SKYVANE_SETTINGS", keep.c_str(), 1);
}
