#include "kernel/Status.h"

#include <gtest/gtest.h>

#include <vector>

using namespace OrlaqLidar;

TEST(Status, ReasonTextJoinsTheSetBitsInTableOrder) {
  EXPECT_EQ(TStatus::ReasonText(TState::Power | TState::Connect), "Connect/Power");
  EXPECT_EQ(TStatus::ReasonText(0), "None");
  EXPECT_EQ(TStatus::ReasonText(TState::Init), "Init");
  EXPECT_EQ(TStatus::ReasonText(31 | TState::Init), "Connect/Power/Error/AcqState/Replay/Init");
}

TEST(Status, NotifiesEachRealChangeOnceWithItsReason) {
  TStatus s("Lidar", "Disconnect");
  std::vector<TState::ChangeRaison> seen;
  s.OnChange = [&](TStatus* who, TState::ChangeRaison r) {
    EXPECT_EQ(who, &s);
    seen.push_back(r);
  };
  EXPECT_EQ(s.ConnectState(), 2);
  EXPECT_EQ(s.PowerState(), 2);
  EXPECT_EQ(s.AcqState(), 1);
  s.SetConnectState(2);  // unchanged: nothing
  s.SetConnectState(4);
  s.SetPowerState(5);
  s.SetReplayState(3);
  s.SetError(0x80000258);
  s.SetError(0x80000258);
  s.SetAcqState(9);
  EXPECT_EQ(seen, (std::vector<TState::ChangeRaison>{TState::Connect, TState::Power, TState::Replay, TState::Error,
                                                      TState::AcqState}));
  // Losing the connection ends the laser and the replay with one Connect notice.
  seen.clear();
  s.SetConnectState(2);
  EXPECT_EQ(seen, std::vector<TState::ChangeRaison>{TState::Connect});
  EXPECT_EQ(s.PowerState(), 2);
  EXPECT_EQ(s.ReplayState(), 0);
}

TEST(Status, OnlyTheReasonsOfTheChangeMaskAreNotified) {
  TStatus s("Lidar Protocol", "Ready");
  s.ChangeMask = TState::Error;
  int notices = 0;
  s.OnChange = [&](TStatus*, TState::ChangeRaison r) {
    EXPECT_EQ(r, TState::Error);
    ++notices;
  };
  s.SetConnectState(4);
  s.SetAcqState(3);
  s.SetError(0x80000001);
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(s.ConnectState(), 4);  // stored all the same
  EXPECT_EQ(s.AcqState(), 3);
}
