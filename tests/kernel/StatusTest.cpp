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

TEST(Status, ARecordingErrorIsNotifiedWhenItBeginsAndEndsAndCountsInBetween) {
  TStatus s("Lidar Acquisition", "Connected");
  s.ChangeMask = TState::Connect | TState::Power | TState::Recording;
  std::vector<uint64_t> seen;
  s.OnChange = [&](TStatus* who, TState::ChangeRaison r) {
    EXPECT_EQ(r, TState::Recording);
    seen.push_back(who->RecordsNotWritten());
  };
  EXPECT_EQ(s.RecordingErrorText(), "");
  s.SetRecordsNotWritten(1);
  EXPECT_EQ(s.RecordingErrorText(), "recording error: 1 record not written");
  s.SetRecordsNotWritten(2);
  s.SetRecordsNotWritten(740);
  EXPECT_EQ(s.RecordingErrorText(), "recording error: 740 records not written");
  s.SetRecordsNotWritten(0);
  EXPECT_EQ(seen, (std::vector<uint64_t>{1, 0}));
  EXPECT_EQ(TStatus::ReasonText(TState::Recording | TState::Init), "Recording/Init");
}
