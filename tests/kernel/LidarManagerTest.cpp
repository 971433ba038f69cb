#include "kernel/LidarManager.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "kernel/Assert.h"
#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"

using namespace OrlaqLidar;

namespace {
using OrlaqLidar::Test::TTestSource;

}  // namespace

class LidarManagerTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  TTestSource source;
  std::vector<std::string> calls;
  int owners[6] = {};
};

TEST_F(LidarManagerTest, StatusConsumersRunFromTheHighestPriorityDown) {
  source.AddStatusConsumer(&owners[0], [&](TStatus*, auto) { calls.push_back("window10"); }, 10);
  source.AddStatusConsumer(&owners[1], [&](TStatus*, auto) { calls.push_back("app100"); }, 100);
  source.AddStatusConsumer(&owners[2], [&](TStatus*, auto) { calls.push_back("manager1000"); }, 1000);
  source.AddStatusConsumer(&owners[3], [&](TStatus*, auto) { calls.push_back("recorder99"); }, 99);
  source.AddStatusConsumer(&owners[1], [&](TStatus*, auto) { calls.push_back("again"); }, 5000);  // ignored
  source.Status.SetConnectState(3);
  EXPECT_EQ(calls, (std::vector<std::string>{"manager1000", "app100", "recorder99", "window10"}));
  // The manager reports only Connect and Power.
  calls.clear();
  source.Status.SetError(0x8000000E);
  source.Status.SetAcqState(9);
  EXPECT_TRUE(calls.empty());
}

TEST_F(LidarManagerTest, RemovingAnUnknownStatusConsumerIsAnAssertion) {
  source.AddStatusConsumer(&owners[0], [](TStatus*, auto) {}, 10);
  source.RemoveStatusConsumer(&owners[0]);
  try {
    source.RemoveStatusConsumer(&owners[0]);
    ADD_FAILURE() << "no assertion";
  } catch (const EAssertionFailed& e) {
    // The failed expression and the unit, with some line: which line is no
    // business of this test.
    EXPECT_TRUE(std::regex_match(
        e.what(), std::regex(R"(m_listConsumerStatus->Remove\(pfunc\) >= 0 \(kernel\\LidarManager, line \d+\))")))
        << e.what();
  }
}

TEST_F(LidarManagerTest, AThrowingConsumerIsLoggedAndTheOthersStillGetTheRecord) {
  std::vector<int> got;
  source.AddDataConsumer(&owners[0], [&](int id, const uint8_t*, int, TDateTime) { got.push_back(id); });
  source.AddDataConsumer(&owners[1], [](int, const uint8_t*, int, TDateTime) { throw std::runtime_error("boom"); });
  source.AddDataConsumer(&owners[2], [&](int id, const uint8_t*, int len, TDateTime) { got.push_back(id * 100 + len); });
  source.AddDataConsumer(&owners[0], [&](int, const uint8_t*, int, TDateTime) { got.push_back(-1); });  // duplicate
  const uint8_t bytes[3] = {1, 2, 3};
  source.DispatchRecord(7, bytes, 3, 0);
  EXPECT_EQ(got, (std::vector<int>{7, 703}));
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_NE(LogLines[0].find("Error on OnReceiveData(7):boom"), std::string::npos);

  source.AddEventConsumer(&owners[3], [](int, const std::string&, TDateTime, const std::string&) {
    throw std::runtime_error("bad");
  });
  source.SendEvent(1, 0, "NOT", "note");
  EXPECT_NE(LogLines.back().find("Error on OnReceiveEvent(1:NOT) : bad"), std::string::npos);
}

TEST_F(LidarManagerTest, AConsumerMayUnregisterItselfDuringADispatch) {
  int first = 0, second = 0;
  source.AddDataConsumer(&owners[0], [&](int, const uint8_t*, int, TDateTime) {
    ++first;
    source.RemoveDataConsumer(&owners[0]);
  });
  source.AddDataConsumer(&owners[1], [&](int, const uint8_t*, int, TDateTime) { ++second; });
  source.DispatchRecord(1, nullptr, 0, 0);
  source.DispatchRecord(1, nullptr, 0, 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(source.DataConsumerCount(), 1u);
}
