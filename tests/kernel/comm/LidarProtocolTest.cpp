#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kernel/comm/LidarProtocol.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TextFrame;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Bytes(const std::string& s) { return TBytes(s.begin(), s.end()); }
TBytes BinaryAnswer(const TBytes& payload) { return OrlaqLidar::Test::Frame(payload, true); }

TBytes Concat(TBytes a, const TBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TBytes Noise(size_t n, uint8_t seed = 0x10) {
  // Never 0x02, so that no start marker hides in it.
  TBytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(0x10 + (seed + i * 7) % 200);
  return v;
}

class LidarProtocolTest : public Test::TSimulatedTime {
 protected:
  LidarProtocolTest() {
    Config.DoorsCount = 64;
    Config.DoorsByte = 2;
    Config.InfoBytes = 4;  // capacity 12 + 128 + 4 = 144
    Protocol = std::make_unique<TLidarProtocol>(nullptr, Config);
    Protocol->Status.OnChange = [this](TStatus*, TState::ChangeRaison r) { Reasons.push_back(r); };
  }

  void Query(const std::string& command) {
    uint8_t frame[16];
    ASSERT_GT(Protocol->MakeFrame(command, frame, sizeof frame), 0);
  }

  int32_t Feed(const TBytes& block, int32_t maxAnswer = 100) {
    Answer.assign(200, 0xEE);
    return Protocol->ParseAnswer(block.data(), static_cast<int32_t>(block.size()), maxAnswer, Answer.data());
  }

  TBytes Got(int32_t n) const { return TBytes(Answer.begin(), Answer.begin() + n); }

  TChannelConfig Config;
  std::unique_ptr<TLidarProtocol> Protocol;
  TBytes Answer;
  std::vector<TState::ChangeRaison> Reasons;
};

}  // namespace

TEST_F(LidarProtocolTest, QueryFrameIsStxCommandEtxAndUpperHexXor) {
  EXPECT_EQ(Protocol->GetFrameCapacity(), 144);

  uint8_t frame[8] = {};
  ASSERT_EQ(Protocol->MakeFrame("C", frame, 5), 5);
  EXPECT_EQ(TBytes(frame, frame + 5), (TBytes{0x02, 0x43, 0x03, '4', '2'}));
  EXPECT_FALSE(Protocol->BinaryAnswer);

  // 0x02 ^ 'L' ^ 0x03 = 0x4D: the letter digit is upper case.
  ASSERT_EQ(Protocol->MakeFrame("L", frame, 8), 5);
  EXPECT_EQ(TBytes(frame, frame + 5), (TBytes{0x02, 'L', 0x03, '4', 'D'}));

  EXPECT_EQ(Protocol->MakeFrame("C", frame, 4), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - Frame buffer too small");
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Au);
  EXPECT_EQ(Protocol->MakeFrame("C", nullptr, 8), -1);
  EXPECT_EQ(Reasons, (std::vector<TState::ChangeRaison>{TState::Error}));

  // Data queries expect the binary form of answer.
  for (const char* c : {"A", "a", "B", "Q"}) {
    Protocol->MakeFrame(c, frame, 8);
    EXPECT_TRUE(Protocol->BinaryAnswer) << c;
  }
  for (const char* c : {"C", "I", "i", "J", "L", "q", "b"}) {
    Protocol->MakeFrame(c, frame, 8);
    EXPECT_FALSE(Protocol->BinaryAnswer) << c;
  }
}

TEST_F(LidarProtocolTest, TextAnswerOneByteAtATimeCompletesOnTheLastChecksumDigit) {
  Query("C");
  const TBytes frame = TextFrame("V1.2");
  for (size_t i = 0; i + 1 < frame.size(); ++i) EXPECT_EQ(Feed({frame[i]}), -1) << i;
  ASSERT_EQ(Feed({frame.back()}), 4);
  EXPECT_EQ(Got(4), Bytes("V1.2"));
  EXPECT_EQ(Protocol->Status.Error(), 0u);

  // Checksum digits are accepted in lower case too: 0x02 ^ 'K' ^ 0x03 = 0x4A.
  Query("I");
  TBytes lower = TextFrame("K");
  ASSERT_EQ(lower.back(), 'A');
  lower.back() = 'a';
  EXPECT_EQ(Feed(lower), 1);
}

TEST_F(LidarProtocolTest, TextGarbageIsDroppedSilently) {
  Query("J");
  EXPECT_EQ(Feed(Bytes("no start here")), -1);
  EXPECT_EQ(Protocol->GetFrameCount(), 0);
  ASSERT_EQ(Feed(Concat(Bytes("junk"), TextFrame("OK"))), 2);
  EXPECT_EQ(Got(2), Bytes("OK"));
  EXPECT_TRUE(LogLines.empty());
  EXPECT_EQ(Protocol->Status.Error(), 0u);
}

TEST_F(LidarProtocolTest, BinaryNoiseBeforeAnAnswerIsDroppedWithoutLog) {
  Query("A");
  const TBytes payload = Noise(20, 3);
  ASSERT_EQ(Feed(Concat(Noise(100), BinaryAnswer(payload))), 20);
  EXPECT_EQ(Got(20), payload);
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidarProtocolTest, BinaryNoiseAloneIsLoggedAndTheLastThreeBytesKept) {
  Query("A");
  TBytes noise = Noise(98);
  noise.insert(noise.end(), {0x02, 0xFF});  // the start marker begins here
  EXPECT_EQ(Feed(noise), -1);
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("Drop 97 unusable data "), std::string::npos) << LogLines[0];
  EXPECT_EQ(Protocol->GetFrameCount(), 3);

  // The rest of the split marker arrives with the answer.
  const TBytes payload = Noise(16, 9);
  const TBytes frame = BinaryAnswer(payload);
  ASSERT_EQ(Feed(TBytes(frame.begin() + 2, frame.end())), 16);
  EXPECT_EQ(Got(16), payload);
}

TEST_F(LidarProtocolTest, StartMarkerSplitAcrossReadsIsFound) {
  Query("Q");
  const TBytes payload = Noise(10, 1);
  const TBytes frame = BinaryAnswer(payload);
  EXPECT_EQ(Feed(Concat(Noise(2), TBytes(frame.begin(), frame.begin() + 2))), -1);
  EXPECT_EQ(Feed(TBytes(frame.begin() + 2, frame.begin() + 3)), -1);
  EXPECT_EQ(Feed(TBytes(frame.begin() + 3, frame.end())), 10);
  EXPECT_EQ(Got(10), payload);
}

TEST_F(LidarProtocolTest, MarkersInsideTheBinaryPayloadDoNotLoseTheAnswer) {
  // Saturated gates can look like a start or an end marker; the checksum
  // decides which markers frame the answer.
  const TBytes payload{0x11, 0x02, 0xFF, 0xFF, 0xFF, 0x22, 0xFF, 0xFF, 0xFF, 0x03, 'A', '0', 0x33, 0x44};
  const TBytes frame = BinaryAnswer(payload);

  Query("A");
  ASSERT_EQ(Feed(frame), static_cast<int32_t>(payload.size()));
  EXPECT_EQ(Got(static_cast<int32_t>(payload.size())), payload);

  // Byte by byte: the inner end marker is no error, the real end wins.
  Query("A");
  int32_t n = -1;
  for (uint8_t b : frame) n = Feed({b});
  ASSERT_EQ(n, static_cast<int32_t>(payload.size()));
  EXPECT_EQ(Got(n), payload);
  EXPECT_EQ(Protocol->Status.Text, "Ready");
  EXPECT_EQ(Protocol->Status.Error(), 0u);
  // Nothing reached the owner: it would have asked again and purged the rest.
  EXPECT_TRUE(Reasons.empty());

  // A full-size answer whose checksum fails is an error at once.
  Query("A");
  TBytes bad = BinaryAnswer(TBytes(132, 0x01));  // 64 gates x 2 + 4 info bytes
  bad.back() = bad.back() == '0' ? '1' : '0';
  EXPECT_EQ(Feed(bad, 200), -1);
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Cu);
}

TEST_F(LidarProtocolTest, ABadChecksumIsReportedAndALaterGoodAnswerStillAccepted) {
  Query("C");
  const TBytes good = TextFrame("OK");
  TBytes bad = good;
  bad[5] = bad[5] == '0' ? '1' : '0';
  EXPECT_EQ(Feed(bad), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - Check Sum (R" + std::string(bad.end() - 2, bad.end()) + "h<>" +
                                       std::string(good.end() - 2, good.end()) + "h/L6)");
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Cu);
  ASSERT_EQ(Feed(TextFrame("V9")), 2);
  EXPECT_EQ(Got(2), Bytes("V9"));
  EXPECT_EQ(Protocol->Status.Error(), 0u);

  // A checksum that is no hexadecimal number never matches.
  Query("C");
  TBytes odd = TextFrame("OK");
  odd[4] = 'G';
  EXPECT_EQ(Feed(odd), -1);
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Cu);
}

TEST_F(LidarProtocolTest, AnswerLongerThanTheCallerAcceptsIsRejectedAndForgotten) {
  Query("C");
  EXPECT_EQ(Feed(TextFrame("VERSION"), 3), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - Packet too big for query (7 > 3)");
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Bu);
  EXPECT_EQ(Protocol->GetFrameCount(), 0);
  EXPECT_EQ(Answer[0], 0xEE);  // nothing written
  // An empty payload is a valid answer.
  EXPECT_EQ(Feed(TextFrame(""), 3), 0);
}

TEST_F(LidarProtocolTest, FullBufferFailsUntilTheNextQuery) {
  Query("A");
  TBytes start{0x02, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(Feed(Concat(start, Noise(150))), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - Buffer overflow");
  EXPECT_EQ(Protocol->Status.Error(), 0x8000000Bu);
  EXPECT_EQ(Protocol->GetFrameCount(), 144);
  EXPECT_EQ(Feed(BinaryAnswer(Noise(4))), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - Buffer overflow");

  Query("A");
  EXPECT_EQ(Protocol->GetFrameCount(), 0);
  EXPECT_EQ(Feed(BinaryAnswer(Noise(4))), 4);
}

TEST_F(LidarProtocolTest, AFullSizeAnswerFitsTheBufferWhichMayAlsoBeTheAnswerBuffer) {
  Query("A");
  const TBytes payload(134, 0xFF);  // 64 gates x 2 + 4 info bytes + 2 spare
  TBytes block = Concat(Noise(50), BinaryAnswer(payload));
  EXPECT_EQ(Protocol->ParseAnswer(block.data(), static_cast<int32_t>(block.size()), 200, block.data()), 134);
  EXPECT_EQ(TBytes(block.begin(), block.begin() + 134), payload);
}

TEST_F(LidarProtocolTest, OnlyTheFirstOfTwoAnswersInOneBlockIsReturned) {
  Query("C");
  EXPECT_EQ(Feed(Concat(TextFrame("ONE"), TextFrame("TWO"))), 3);
  EXPECT_EQ(Got(3), Bytes("ONE"));
  EXPECT_EQ(Protocol->GetFrameCount(), 0);
  EXPECT_EQ(Feed({'x'}), -1);
}

TEST_F(LidarProtocolTest, InvalidArgumentsAreReported) {
  Query("C");
  uint8_t buf[8] = {};
  EXPECT_EQ(Protocol->ParseAnswer(nullptr, 3, 8, buf), -1);
  EXPECT_EQ(Protocol->Status.Text, "Protocol error - function argument");
  EXPECT_EQ(Protocol->ParseAnswer(buf, -5, 8, buf), -1);
  EXPECT_EQ(Protocol->ParseAnswer(buf, 3, 8, nullptr), -1);
}

TEST_F(LidarProtocolTest, CapacityFollowsTheShotSizeAndStaysBounded) {
  TChannelConfig c;
  c.DoorsCount = 2048;
  c.DoorsByte = 2;
  c.InfoBytes = 16;
  EXPECT_EQ(TLidarProtocol::CapacityFor(c), 12 + 4096 + 16);
  c.DoorsCount = -3;
  EXPECT_EQ(TLidarProtocol::CapacityFor(c), 12 + 16);
  c.DoorsCount = 2000000000;
  c.DoorsByte = 4;
  EXPECT_GT(TLidarProtocol::CapacityFor(c), 0);
  EXPECT_LE(TLidarProtocol::CapacityFor(c), 64 * 1024 * 1024);
}

TEST_F(LidarProtocolTest, RandomInputNeverOverrunsAndNeverExceedsTheLimit) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 400; ++round) {
    Query(round % 2 ? "A" : "C");
    for (int block = 0; block < 6; ++block) {
      TBytes data(1 + rng() % 50);
      for (auto& b : data) {
        const unsigned r = rng() % 8;
        b = r == 0 ? 0x02 : r == 1 ? 0xFF : r == 2 ? 0x03 : static_cast<uint8_t>(rng());
      }
      const int32_t limit = static_cast<int32_t>(rng() % 30);
      const int32_t n = Feed(data, limit);
      EXPECT_LE(n, limit);
      EXPECT_LE(Protocol->GetFrameCount(), Protocol->GetFrameCapacity());
    }
  }
}
