#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/comm/MonitorProtocol.h"

using namespace OrlaqLidar;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Line(const std::string& text) {
  TBytes b(text.begin(), text.end());
  b.push_back(0x0A);
  b.push_back(0x0D);
  return b;
}

class MonitorProtocolTest : public ::testing::Test {
 protected:
  int32_t Feed(const TBytes& block, int32_t maxAnswer = 64) {
    Answer.assign(64, 0xEE);
    return Protocol.ParseAnswer(block.data(), static_cast<int32_t>(block.size()), maxAnswer, Answer.data());
  }
  int32_t Feed(const std::string& block, int32_t maxAnswer = 64) {
    return Feed(TBytes(block.begin(), block.end()), maxAnswer);
  }
  std::string Got(int32_t n) const { return std::string(Answer.begin(), Answer.begin() + n); }

  TMonitorProtocol Protocol{nullptr};
  TBytes Answer;
};

}  // namespace

TEST_F(MonitorProtocolTest, QueriesAreTheBareCommandCharacters) {
  EXPECT_EQ(Protocol.GetFrameCapacity(), 12);

  uint8_t frame[10] = {};
  EXPECT_EQ(Protocol.MakeFrame("B", frame, 1), -1);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - Make frame buffer is small");
  EXPECT_EQ(Protocol.Status.Error(), 0x8000000Au);
  EXPECT_EQ(Protocol.MakeFrame("B", nullptr, 10), -1);
  ASSERT_EQ(Protocol.MakeFrame("B", frame, 2), 1);
  EXPECT_EQ(frame[0], 'B');
  ASSERT_EQ(Protocol.MakeFrame("'`;", frame, 10), 3);
  EXPECT_EQ(TBytes(frame, frame + 3), (TBytes{0x27, 0x60, 0x3B}));
}

TEST_F(MonitorProtocolTest, LineEndsWithLineFeedThenCarriageReturn) {
  ASSERT_EQ(Feed(Line("23.5")), 4);
  EXPECT_EQ(Got(4), "23.5");

  // The other order is no line end; a new query forgets what is held, so
  // the stale bytes of a timed-out answer never prefix the next one.
  EXPECT_EQ(Feed(TBytes{'2', '3', '.', '5', 0x0D, 0x0A}), -1);
  uint8_t frame[4];
  Protocol.MakeFrame("Z", frame, 4);

  // Split over several blocks, even between the two end bytes.
  EXPECT_EQ(Feed("+023"), -1);
  EXPECT_EQ(Feed(TBytes{',', '4', 'V', 0x0A}), -1);
  ASSERT_EQ(Feed(TBytes{0x0D}), 7);
  EXPECT_EQ(Got(7), "+023,4V");
}

TEST_F(MonitorProtocolTest, LonePingAnswer) {
  EXPECT_EQ(Feed("2"), -1);  // held bytes are dropped by the ping answer
  ASSERT_EQ(Feed("Q"), 1);
  EXPECT_EQ(Got(1), "Q");
  EXPECT_EQ(Protocol.GetFrameCount(), 0);
  // A lower-case line is only a line; the channel decides what it means.
  ASSERT_EQ(Feed(Line("q")), 1);
  EXPECT_EQ(Got(1), "q");

  EXPECT_EQ(Feed("Q", 0), -1);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - Not expected answer");
  EXPECT_EQ(Protocol.Status.Error(), 0x8000000Cu);
  EXPECT_EQ(Feed("Q"), 1);
  EXPECT_EQ(Protocol.Status.Error(), 0u);
}

TEST_F(MonitorProtocolTest, OverlongLineIsDroppedUpToItsLineEnd) {
  // Ten characters plus the line end fill the buffer exactly.
  ASSERT_EQ(Feed(Line("1234567890")), 10);

  EXPECT_EQ(Feed("1234567890123"), -1);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - Buffer overflow");
  EXPECT_EQ(Protocol.Status.Error(), 0x8000000Bu);
  // The tail of the long line is not a measure.
  EXPECT_EQ(Feed(Line("4.5")), -1);
  EXPECT_LE(Protocol.GetFrameCount(), Protocol.GetFrameCapacity());
  // The next line is read again.
  ASSERT_EQ(Feed(Line("6.5")), 3);
  EXPECT_EQ(Got(3), "6.5");
  EXPECT_EQ(Protocol.Status.Error(), 0u);

  // Eleven characters: the line end straddles the overflow and still ends it.
  EXPECT_EQ(Feed(Line("12345678901")), -1);
  ASSERT_EQ(Feed(Line("7")), 1);
  EXPECT_EQ(Got(1), "7");
}

TEST_F(MonitorProtocolTest, NoiseOverflowingAfterACompleteLineGoesAlone) {
  TBytes block = Line("23.5");
  for (char c : std::string("0123456789")) block.push_back(static_cast<uint8_t>(c));
  ASSERT_EQ(Feed(block), 4);
  EXPECT_EQ(Got(4), "23.5");
  EXPECT_EQ(Protocol.Status.Error(), 0u);
  ASSERT_EQ(Feed(Line("6.5")), 3);
  EXPECT_EQ(Got(3), "6.5");

  // Held from an earlier block, the line is still the answer.
  EXPECT_EQ(Feed(TBytes{'7', 0x0A, 0x0D, '1'}), -1);
  ASSERT_EQ(Feed("234567890"), 1);
  EXPECT_EQ(Got(1), "7");
  ASSERT_EQ(Feed(Line("8")), 1);
  EXPECT_EQ(Got(1), "8");
}

TEST_F(MonitorProtocolTest, InvalidArgumentsAndSmallAnswerBuffers) {
  uint8_t buf[4];
  EXPECT_EQ(Protocol.ParseAnswer(nullptr, 1, 4, buf), -1);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - function argument");
  EXPECT_EQ(Protocol.ParseAnswer(buf, 1, 4, nullptr), -1);
  EXPECT_EQ(Protocol.ParseAnswer(buf, -1, 4, buf), -1);

  EXPECT_EQ(Feed(Line("12345"), 3), -1);
  EXPECT_EQ(Answer[0], 0xEE);
  EXPECT_EQ(Protocol.Status.Text, "Protocol error - Packet too big for query (5 > 3)");
}
