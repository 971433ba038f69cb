#include "kernel/comm/Airins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "Platform/FakeSocketFactory.h"
#include "kernel/comm/AirinsIPClient.h"
#include "kernel/comm/AirinsProtocol.h"
#include "kernel/comm/IPClient.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {

using TBytes = std::vector<uint8_t>;

// A record whose bytes are told apart by position and hold no start byte.
TBytes Record(uint8_t base = 1) {
  TBytes r(35);
  for (size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(base + i);
  return r;
}

// The unit's frame, laid out field by field as the unit sends it.
TBytes Frame(const TBytes& record, uint16_t status = 0, bool corrupt = false) {
  TBytes f{0x71};
  f.insert(f.end(), record.begin(), record.begin() + 17);
  f.insert(f.end(), {0xAA, 0xBB});  // not used
  f.insert(f.end(), record.begin() + 17, record.end());
  f.push_back(static_cast<uint8_t>(status));
  f.push_back(static_cast<uint8_t>(status >> 8));
  uint16_t crc = TAirinsProtocol::Crc16X25(f.data() + 1, 39);
  if (corrupt) crc ^= 0x0101;
  f.push_back(static_cast<uint8_t>(crc));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  return f;
}

TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct TTraceLine {
  std::string Source;
  char Kind;
  TBytes Data;
  std::string Text() const { return std::string(Data.begin(), Data.end()); }
};

TTraceLine Trace(const std::string& source, char kind, const uint8_t* data, int length) {
  return {source, kind, TBytes(data, data + length)};
}

std::string ChecksumText(const TBytes& frame) {
  const uint16_t received = static_cast<uint16_t>(frame[40] | (frame[41] << 8));
  const uint16_t computed = TAirinsProtocol::Crc16X25(frame.data() + 1, 39);
  char text[64];
  std::snprintf(text, sizeof text, "Protocol error - Check Sum (R%04Xh<>%04Xh)", received, computed);
  return text;
}

class AirinsProtocolTest : public Test::TSimulatedTime {
 protected:
  AirinsProtocolTest() {
    Protocol.OnTrace = [this](const std::string& source, char kind, const uint8_t* data, int length, TDateTime) {
      Traces.push_back(Trace(source, kind, data, length));
    };
  }

  int Feed(const TBytes& block) {
    Answer.assign(35, 0xEE);
    return Protocol.ParseAnswer(block.data(), static_cast<int>(block.size()), 35, Answer.data());
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& l : Traces) t.push_back(std::string(1, l.Kind) + l.Text());
    return t;
  }

  TAirinsProtocol Protocol;
  TBytes Answer;
  std::vector<TTraceLine> Traces;
};

}  // namespace

TEST(AirinsCrc, CheckValueOfTheNineDigits) {
  const std::string digits = "123456789";
  EXPECT_EQ(TAirinsProtocol::Crc16X25(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0x906E);
  EXPECT_EQ(TAirinsProtocol::Crc16X25(nullptr, 0), 0x0000);  // ~0xFFFF
}

TEST_F(AirinsProtocolTest, AValidFrameGivesItsRecordWithoutTheUnusedBytes) {
  EXPECT_EQ(Feed(Frame(Record())), 35);
  EXPECT_EQ(Answer, Record());
  EXPECT_EQ(Protocol.FrameCount(), 0);
  EXPECT_EQ(Protocol.Status.Error(), 0u);
  EXPECT_EQ(Texts(), std::vector<std::string>{"<Got data"});

  // Fed byte by byte it completes on its last byte.
  const TBytes f = Frame(Record(9));
  for (size_t i = 0; i + 1 < f.size(); ++i) ASSERT_EQ(Feed({f[i]}), -1) << i;
  EXPECT_EQ(Feed({f.back()}), 35);
  EXPECT_EQ(Answer, Record(9));
}

TEST_F(AirinsProtocolTest, AStreamStartingMidFrameIsSkippedUpToTheNextStart) {
  const TBytes first = Frame(Record(1));
  const TBytes tail(first.begin() + 27, first.end());  // 15 bytes, no start byte among them
  ASSERT_EQ(std::count(tail.begin(), tail.end(), 0x71), 0);
  EXPECT_EQ(Feed(tail), -1);
  EXPECT_EQ(Protocol.FrameCount(), 0);
  EXPECT_EQ(Feed(Frame(Record(2))), 35);
  EXPECT_EQ(Answer, Record(2));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"SSkip 15 byte", "<Got data"}));
}

TEST_F(AirinsProtocolTest, AFalseStartIsDroppedAtItsChecksumAndTheSearchGoesOn) {
  const TBytes good = Frame(Record(3));
  const TBytes stream = Concat({{0x71, 0x01, 0x02, 0x03}, good});
  const TBytes window(stream.begin(), stream.begin() + 42);
  EXPECT_EQ(Feed(stream), 35);
  EXPECT_EQ(Answer, Record(3));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"S" + ChecksumText(window), "SSkip 4 byte", "<Got data"}));
  EXPECT_EQ(Protocol.Status.Error(), 0u);  // a checksum error changes no status
}

TEST_F(AirinsProtocolTest, AStartByteInsideABadFrameIsTheNextCandidate) {
  TBytes r = Record(1);
  r[8] = 0x71;  // frame offset 9
  const TBytes bad = Frame(r, 0, true);
  ASSERT_EQ(std::count(bad.begin(), bad.end(), 0x71), 2);
  EXPECT_EQ(Feed(Concat({bad, Frame(Record(5))})), 35);
  EXPECT_EQ(Answer, Record(5));
  const auto t = Texts();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0], "S" + ChecksumText(bad));
  EXPECT_EQ(t[1], "SSkip 9 byte");  // not 42: the search resumed inside the bad frame
  EXPECT_EQ(t.back(), "<Got data");
}

TEST_F(AirinsProtocolTest, TwoFramesInOneBlockAreBothCheckedAndTheSecondIsTheAnswer) {
  EXPECT_EQ(Feed(Concat({Frame(Record(1)), Frame(Record(7))})), 35);
  EXPECT_EQ(Answer, Record(7));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"<Got data", "<Got data"}));
}

TEST_F(AirinsProtocolTest, NonZeroStatusWordIsInvalidDataUntilAValidFrame) {
  std::vector<TStatus*> who;
  Protocol.Status.OnChange = [&](TStatus* s, TState::ChangeRaison) { who.push_back(s); };
  EXPECT_EQ(Feed(Frame(Record(), 0x0004)), -1);
  EXPECT_EQ(Protocol.Status.Text, "Invalid data");
  EXPECT_EQ(Protocol.Status.Error(), 0x80000010u);
  EXPECT_EQ(Texts().back(), "SInvalid data");
  // The last frame of a call decides; a valid one before it stays in answer.
  Answer.assign(35, 0);
  const TBytes both = Concat({Frame(Record(2)), Frame(Record(3), 1)});
  EXPECT_EQ(Protocol.ParseAnswer(both.data(), static_cast<int>(both.size()), 35, Answer.data()), -1);
  EXPECT_EQ(Answer, Record(2));
  EXPECT_EQ(Feed(Frame(Record())), 35);
  EXPECT_EQ(Protocol.Status.Text, "Ready");
  EXPECT_EQ(Protocol.Status.Error(), 0u);
  EXPECT_GE(who.size(), 2u);
}

TEST_F(AirinsProtocolTest, BadArgumentsAreRefusedWithoutTouchingTheAnswer) {
  const TBytes f = Frame(Record());
  uint8_t small[20];
  std::memset(small, 0xEE, sizeof small);
  // An answer buffer too small for a record must not be written.
  EXPECT_EQ(Protocol.ParseAnswer(f.data(), 42, 20, small), -1);
  EXPECT_EQ(small[0], 0xEE);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - function argument");
  EXPECT_EQ(Protocol.Status.Error(), 0x8000000Bu);
  EXPECT_EQ(Protocol.ParseAnswer(nullptr, 42, 35, small), -1);
  EXPECT_EQ(Protocol.ParseAnswer(f.data(), -5, 35, small), -1);
  EXPECT_EQ(Feed(f), 35);
  EXPECT_EQ(Protocol.Status.Error(), 0u);
}

// ---------------------------------------------------------------------------

TEST(IPClient, AddressIsTrimmedAndLowerCasedAndNeedsBothParts) {
  TIPClient c;
  EXPECT_TRUE(c.SetAddress("  INS.Example.ORG ", " 1234 "));
  EXPECT_EQ(c.Host(), "ins.example.org");
  EXPECT_EQ(c.Port(), "1234");
  EXPECT_TRUE(c.SetAddressText("Unit:4001"));
  EXPECT_EQ(c.Host(), "unit");
  EXPECT_EQ(c.Port(), "4001");
  // No ':' and no default port: no valid address.
  EXPECT_FALSE(c.SetAddressText("10.0.0.7"));
  EXPECT_EQ(c.Host(), "10.0.0.7");
  EXPECT_EQ(c.Port(), "");
  EXPECT_FALSE(c.SetAddressText("unit:"));
  EXPECT_FALSE(c.SetAddressText(":1234"));
}

namespace {

class IPClientTest : public Test::TSimulatedTime {
 protected:
  IPClientTest() { Services().Sockets = &Sockets; }
  TFakeSocketFactory Sockets;
};

}  // namespace

TEST_F(IPClientTest, ConnectsToAUsableAddressAndSendsOnlyWhileConnected) {
  TIPClient c;
  EXPECT_FALSE(c.Connect());  // no address
  c.SetAddress("unit", "http");
  EXPECT_FALSE(c.Connect());  // not a port number
  c.SetAddress("unit", "70000");
  EXPECT_FALSE(c.Connect());
  EXPECT_EQ(Sockets.Created(), 0);
  c.SetAddress("unit", "4001");
  Sockets.FailCreate = true;
  EXPECT_FALSE(c.Connect());
  Sockets.FailCreate = false;

  int connected = 0;
  TBytes got;
  c.OnConnected = [&](TIPClient*) { ++connected; };
  c.OnData = [&](TIPClient*, const uint8_t* d, int n) { got.insert(got.end(), d, d + n); };
  ASSERT_TRUE(c.Connect());
  EXPECT_TRUE(c.IsConnecting());
  EXPECT_EQ(Sockets.Last()->Host(), "unit");
  EXPECT_EQ(Sockets.Last()->Port(), 4001);
  EXPECT_FALSE(c.SendText("x"));
  Sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  EXPECT_EQ(connected, 1);
  EXPECT_TRUE(c.SendText("ping"));
  EXPECT_EQ(std::string(Sockets.Last()->Sent.begin(), Sockets.Last()->Sent.end()), "ping");
  // Everything waiting is read, not one receive buffer's worth.
  Sockets.Last()->Feed(std::string(1000, 'a'));
  Loop.ProcessPosted();
  EXPECT_EQ(got.size(), 1000u);
}

// ---------------------------------------------------------------------------

namespace {

class AirinsTest : public Test::TSimulatedTime {
 protected:
  AirinsTest() {
    Services().Sockets = &Sockets;
    Setup.AirinsAddr = " 127.0.0.1 ";
    Setup.AirinsPort = "4001";
    Config.RecordID = 77;
    Config.TimeOut = 2000;
    Ins = std::make_unique<TAirins>(Config, Setup);
    Ins->Status.OnChange = [this](TStatus*, TState::ChangeRaison r) { Reasons.push_back(r); };
    Ins->OnData = [this](int id, const uint8_t* d, int n, TDateTime t) {
      Ids.push_back(id);
      Records.emplace_back(d, d + n);
      Times.push_back(t);
    };
    Ins->OnTrace = [this](const std::string& source, char kind, const uint8_t* data, int length, TDateTime) {
      Traces.push_back(Trace(source, kind, data, length));
    };
  }

  // Init, Connect and the unit accepts.
  void Up() {
    ASSERT_TRUE(Ins->Init());
    ASSERT_TRUE(Ins->Connect());
    ASSERT_NE(Sockets.Last(), nullptr);
    Sockets.Last()->AcceptConnection();
    Loop.ProcessPosted();
    ASSERT_EQ(Ins->Status.ConnectState(), 4);
  }

  void Send(const TBytes& bytes) {
    Sockets.Last()->Feed(bytes);
    Loop.ProcessPosted();
  }

  bool Traced(const std::string& text) const {
    for (const auto& l : Traces)
      if (l.Text() == text) return true;
    return false;
  }

  TFakeSocketFactory Sockets;
  TAirinsConfig Config;
  TLidarSetup Setup;
  std::unique_ptr<TAirins> Ins;
  std::vector<TState::ChangeRaison> Reasons;
  std::vector<int> Ids;
  std::vector<TBytes> Records;
  std::vector<TDateTime> Times;
  std::vector<TTraceLine> Traces;
};

}  // namespace

TEST_F(AirinsTest, ConnectsToTheSetupAddressAndReportsEachStep) {
  EXPECT_EQ(Ins->Status.ConnectState(), 2);
  ASSERT_TRUE(Ins->Init());
  ASSERT_TRUE(Ins->Connect());
  EXPECT_EQ(Ins->Status.ConnectState(), 3);
  EXPECT_EQ(Sockets.Last()->Host(), "127.0.0.1");
  EXPECT_EQ(Sockets.Last()->Port(), 4001);
  // Nothing happens inside Connect itself; the socket's news come from the loop.
  EXPECT_EQ(Reasons, std::vector<TState::ChangeRaison>{TState::Connect});
  Clock.AdvanceMs(500);
  Sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 4);
  EXPECT_EQ(Ins->Status.Error(), 0u);
  EXPECT_DOUBLE_EQ(Ins->LastDataTime(), Clock.NowUTC());
  // Connect while up does nothing more.
  EXPECT_TRUE(Ins->Connect());
  EXPECT_EQ(Sockets.Created(), 1);
}

TEST_F(AirinsTest, EveryRecordOfABlockGoesToTheOwnerInOrderWithTheRecordIdAndIsTraced) {
  Up();
  EXPECT_EQ(Ins->Status.AcqState(), 3);
  Clock.AdvanceMs(100);
  const TBytes block = Concat({Frame(Record(1)), Frame(Record(4))});
  Send(block);
  ASSERT_EQ(Records.size(), 2u);
  EXPECT_EQ(Records[0], Record(1));
  EXPECT_EQ(Records[1], Record(4));
  EXPECT_EQ(Ids, (std::vector<int>{77, 77}));
  EXPECT_DOUBLE_EQ(Times[0], Clock.NowUTC());
  EXPECT_EQ(Ins->Status.AcqState(), 9);
  // The raw block, then each frame's protocol trace and its record.
  ASSERT_EQ(Traces.size(), 5u);
  EXPECT_EQ(Traces[0].Source + Traces[0].Kind, "Airins<");
  EXPECT_EQ(Traces[0].Data, block);
  EXPECT_EQ(Traces[1].Text(), "Got data");
  EXPECT_EQ(Traces[2].Data, Record(1));
  EXPECT_EQ(Traces[4].Data, Record(4));
}

TEST_F(AirinsTest, FramesArrivingInPairsAreAllDelivered) {
  // 20 frames a second sent two at a time, one pair split across reads.
  Up();
  std::vector<TBytes> sent;
  for (uint8_t i = 0; i < 20; i += 2) {
    sent.push_back(Record(i + 1));
    sent.push_back(Record(i + 2));
    const TBytes pair = Concat({Frame(sent[i]), Frame(sent[i + 1])});
    if (i == 10) {
      Send(TBytes(pair.begin(), pair.begin() + 60));
      Send(TBytes(pair.begin() + 60, pair.end()));
    } else {
      Send(pair);
    }
    Clock.AdvanceMs(100);
  }
  EXPECT_EQ(Records, sent);
}

TEST_F(AirinsTest, ABurstLargerThanTheReceiveBufferIsReadCompletely) {
  Up();
  TBytes burst;
  for (uint8_t i = 0; i < 10; ++i) burst = Concat({burst, Frame(Record(static_cast<uint8_t>(1 + i)))});
  Send(burst);  // 420 bytes: 255, then 165
  EXPECT_EQ(Sockets.Last()->BytesAvailable(), 0);
  ASSERT_EQ(Records.size(), 10u);
  for (uint8_t i = 0; i < 10; ++i) EXPECT_EQ(Records[i], Record(static_cast<uint8_t>(1 + i)));
}

TEST_F(AirinsTest, InvalidDataIsShownUntilValidDataReturns) {
  Up();
  Send(Frame(Record(), 0x0100));
  EXPECT_TRUE(Records.empty());
  EXPECT_EQ(Ins->Status.Text, "Invalid data");
  EXPECT_EQ(Ins->Status.Error(), 0x80000010u);
  Send(Frame(Record()));
  EXPECT_EQ(Records.size(), 1u);
  EXPECT_EQ(Ins->Status.Error(), 0u);
}

TEST_F(AirinsTest, NoRecordForTimeOutMsIsAnErrorThatClearsWhenDataFlowsAgain) {
  Up();
  Send(Frame(Record()));
  Clock.AdvanceMs(1999);
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Ins->Status.Error(), 0u);
  EXPECT_EQ(Ins->Status.AcqState(), 9);
  Clock.AdvanceMs(1);
  Reasons.clear();
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Ins->Status.Text, "Error time out");
  EXPECT_EQ(Ins->Status.Error(), 0x80000005u);
  EXPECT_EQ(Ins->Status.AcqState(), 3);
  EXPECT_EQ(Reasons, (std::vector<TState::ChangeRaison>{TState::Error, TState::AcqState}));
  // Reported once, not at every tick.
  Clock.AdvanceMs(5000);
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Reasons.size(), 2u);
  Send(Frame(Record()));
  EXPECT_EQ(Ins->Status.AcqState(), 9);
  EXPECT_EQ(Ins->Status.Error(), 0u);
  EXPECT_EQ(Ins->Status.Text, "Connected");
}

TEST_F(AirinsTest, ALinkThatNeverDeliversOrDeliversOnlyGarbageTimesOut) {
  Up();
  Clock.AdvanceMs(1000);
  Send({0x01, 0x02, 0x03});
  Send(Frame(Record(), 0, true));
  Clock.AdvanceMs(1000);
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Ins->Status.Error(), 0x80000005u);
  EXPECT_TRUE(Traced("Skip 3 byte"));
}

TEST_F(AirinsTest, NoConnectionWithAnIncompleteAddressAndNoTimeOutWhileDisconnected) {
  Setup.AirinsPort = "  ";
  EXPECT_FALSE(Ins->Init());
  EXPECT_FALSE(Ins->Connect());
  EXPECT_EQ(Sockets.Created(), 0);
  Setup.AirinsPort = "4001";
  ASSERT_TRUE(Ins->Init());
  Clock.AdvanceMs(60000);
  Ins->CheckTimeOut(Clock.NowUTC());
  ASSERT_TRUE(Ins->Connect());
  Clock.AdvanceMs(60000);
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Ins->Status.Error(), 0u);
}

TEST_F(AirinsTest, ReconnectsAfterTheUnitDropsTheLink) {
  Up();
  const TBytes f = Frame(Record(2));
  Send(TBytes(f.begin(), f.begin() + 20));  // half a frame when the link goes
  Sockets.Last()->RemoteClose();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 2);
  EXPECT_EQ(Ins->Status.Text, "Disconnected");
  EXPECT_EQ(Ins->Status.AcqState(), 3);
  EXPECT_EQ(Ins->Client().Status.ConnectState(), 2);
  EXPECT_EQ(Sockets.LiveCount(), 0);  // the closed socket is released
  Clock.AdvanceMs(5000);
  Ins->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Ins->Status.Error(), 0u);

  ASSERT_TRUE(Ins->Connect());
  EXPECT_EQ(Sockets.Created(), 2);
  EXPECT_EQ(Ins->Status.ConnectState(), 3);
  Sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 4);
  Traces.clear();
  Send(Frame(Record(3)));
  // The half frame of the old link is gone: no skip, no checksum error.
  ASSERT_EQ(Records.size(), 1u);
  EXPECT_EQ(Records[0], Record(3));
  EXPECT_FALSE(Traced("Skip 20 byte"));
  ASSERT_GE(Traces.size(), 2u);
  EXPECT_EQ(Traces[1].Text(), "Got data");  // right after the raw block
}

TEST_F(AirinsTest, ReconnectsAfterDisconnectByHandAndDropsWhatWasStillQueued) {
  Up();
  Send(Frame(Record()));
  // A block already on its way when the program closes is not delivered.
  Sockets.Last()->Feed(Frame(Record()));
  Ins->Disconnect();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 2);
  EXPECT_EQ(Ins->Status.AcqState(), 3);
  EXPECT_EQ(Ins->Status.Text, "Disconnected");
  EXPECT_TRUE(Sockets.Last()->ClosedLocally());
  EXPECT_EQ(Ins->Client().Status.ConnectState(), 2);
  EXPECT_EQ(Records.size(), 1u);
  ASSERT_TRUE(Ins->Connect());
  EXPECT_EQ(Sockets.Created(), 2);
  EXPECT_EQ(Sockets.LiveCount(), 1);  // the old socket went first
  Sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  Send(Frame(Record()));
  EXPECT_EQ(Records.size(), 2u);

  // Nor after the component is destroyed, which releases its socket.
  Sockets.Last()->Feed(Frame(Record()));
  Ins.reset();
  EXPECT_EQ(Sockets.LiveCount(), 0);
  Loop.ProcessPosted();
  EXPECT_EQ(Records.size(), 2u);
}

TEST_F(AirinsTest, ARefusedConnectionIsLoggedAndDisconnectedAndTheNextConnectTriesAgain) {
  ASSERT_TRUE(Ins->Init());
  ASSERT_TRUE(Ins->Connect());
  Sockets.Last()->RefuseConnection();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 2);
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("INS at 127.0.0.1:4001 not reached: Connection refused"), std::string::npos)
      << LogLines[0];
  EXPECT_EQ(Ins->Client().Status.ConnectState(), 2);
  EXPECT_EQ(Ins->Client().LastError(), TTcpSocket::ErrRefused);
  EXPECT_EQ(Ins->Client().CurrentState(), TSocketState::Closed);
  ASSERT_TRUE(Ins->Connect());
  EXPECT_EQ(Sockets.Created(), 2);
  EXPECT_EQ(Sockets.LiveCount(), 1);
  Sockets.Last()->AcceptConnection();
  Loop.ProcessPosted();
  EXPECT_EQ(Ins->Status.ConnectState(), 4);
  EXPECT_NE(LogLines.back().find("INS at 127.0.0.1:4001 connected"), std::string::npos);
}

TEST_F(AirinsTest, AnAttemptThatDoesNotComeThroughIsGivenUp) {
  ASSERT_TRUE(Ins->Init());
  ASSERT_TRUE(Ins->Connect());
  TFakeTcpSocket* hanging = Sockets.Last();
  Clock.AdvanceMs(TAirins::ConnectTimeOutMs - 1);
  Ins->CheckTimeOut();
  EXPECT_EQ(Ins->Status.ConnectState(), 3);
  Clock.AdvanceMs(1);
  Ins->CheckTimeOut();
  EXPECT_EQ(Ins->Status.ConnectState(), 2);
  EXPECT_TRUE(hanging->Aborted());
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.back().find("not reached: Connection timed out"), std::string::npos) << LogLines.back();
  // No data time-out for a link that never came up.
  EXPECT_EQ(Ins->Status.Error(), 0u);
}

TEST_F(AirinsTest, AConsumerExceptionIsLoggedAndStaysInside) {
  Up();
  Ins->OnData = [](int, const uint8_t*, int, TDateTime) { throw std::runtime_error("disk full"); };
  EXPECT_NO_THROW(Send(Frame(Record())));
  ASSERT_FALSE(LogLines.empty());
  EXPECT_NE(LogLines.back().find("disk full"), std::string::npos);
}
