// Keeping the computer awake while the laser is on: when the lock is
// taken and given back, and a machine without a system bus.
#include "Platform/SleepGuard.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Real/DBusSleepInhibitor.h"
#include "Platform/Real/QtMainLoop.h"

namespace OrlaqLidar {
namespace {

class TFakeInhibitor : public TSleepInhibitor {
 public:
  bool Acquire(const std::string& why) override {
    Calls.push_back("acquire");
    Why = why;
    held = Grant;
    return Grant;
  }
  void Release() override {
    Calls.push_back("release");
    held = false;
  }
  bool Grant = true;
  bool held = false;
  std::string Why;
  std::vector<std::string> Calls;
};

TEST(SleepGuard, HeldWhileNeededOnceAndGivenBackAfter) {
  TFakeInhibitor lock;
  {
    TSleepGuard guard(&lock);
    guard.Update(false);
    EXPECT_TRUE(lock.Calls.empty());
    guard.Update(true);
    guard.Update(true);  // every tick while the laser is on
    EXPECT_TRUE(guard.Held());
    EXPECT_FALSE(lock.Why.empty());
    guard.Update(false);  // powered off
    EXPECT_FALSE(lock.held);
    EXPECT_EQ(lock.Calls, (std::vector<std::string>{"acquire", "release"}));
    guard.Update(true);
  }
  EXPECT_FALSE(lock.held) << "the window going releases it too";

  // Refused: not asked again until the need has ended and come back.
  lock.Calls.clear();
  lock.Grant = false;
  TSleepGuard guard(&lock);
  for (int tick = 0; tick < 5; ++tick) guard.Update(true);
  EXPECT_FALSE(guard.Held());
  EXPECT_EQ(lock.Calls.size(), 1u);
  guard.Update(false);
  lock.Grant = true;
  guard.Update(true);
  EXPECT_TRUE(guard.Held());
  EXPECT_EQ(lock.Calls, (std::vector<std::string>{"acquire", "acquire"})) << "nothing to release after a refusal";

  TSleepGuard none(nullptr);
  none.Update(true);
  EXPECT_FALSE(none.Held());
}

TEST(DBusSleepInhibitor, WithoutASystemBusThereIsNoLockAndNoError) {
  // A bus address that leads nowhere, whatever the machine running the test has.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/skyvane-test-bus", 1);
  EnsureQtApplication();
  TDBusSleepInhibitor lock;
  TSleepGuard guard(&lock);
  guard.Update(true);
  EXPECT_FALSE(guard.Held());
  EXPECT_FALSE(lock.Held());
  guard.Update(false);
  lock.Release();
}

}  // namespace
}  // namespace OrlaqLidar
