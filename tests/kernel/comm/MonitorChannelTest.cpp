#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Platform/FakeUsbDriver.h"
#include "kernel/comm/MonitorChannel.h"
#include "kernel/comm/Protocol.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Line(const std::string& text) {
  TBytes b(text.begin(), text.end());
  b.push_back(0x0A);
  b.push_back(0x0D);
  return b;
}

class MonitorChannelTest : public Test::TSimulatedTime {
 protected:
  MonitorChannelTest() {
    Config.Protocol = "LIDAR_MONITOR";
    Config.USBDescriptor = "ORML MONITOR";
    Config.BufferLength = 64;
    Config.TimeOut = 1000;
    Device = Usb.AddDevice("ORML MONITOR", "MN0001");
  }
  ~MonitorChannelTest() override { Channel.reset(); }

  void AddMeasure(int commandIndex, const std::string& text) {
    auto d = std::make_unique<TInfoDescription>();
    d->Index = commandIndex;
    d->Text = text;
    Config.InfoDescriptions.push_back(std::move(d));
  }

  void Build(bool withOnData = true) {
    Channel = std::make_unique<TMonitorChannel>(Config);
    Channel->OnTrace = [this](const std::string&, char kind, const uint8_t* data, int length, TDateTime) {
      Traces.push_back(std::string(1, kind) +
                       std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)));
    };
    if (withOnData) {
      Channel->OnData = [this](TChannel*, const uint8_t* data, int length, TDateTime) {
        std::vector<double> v(static_cast<size_t>(length) / sizeof(double));
        std::memcpy(v.data(), data, v.size() * sizeof(double));
        Records.push_back(v);
      };
    }
  }

  TStatus& Status() { return *Channel->GetStatus(); }

  void Answer(const TBytes& bytes) {
    Usb.Inject(Device, bytes);
    // One reader cycle: a query sent on the answer leaves at "now".
    Loop.AdvanceMs(1);
  }

  // Opens the link; the channel pings by itself.
  void OpenLink(bool withOnData = true) {
    Build(withOnData);
    Channel->SetConnectState(4);
    Clock.AdvanceMs(3000);
    Channel->Update();
    Loop.AdvanceMs(5);
  }

  void Connect(bool withOnData = true) {
    OpenLink(withOnData);
    ASSERT_EQ(Usb.WrittenText(Device), "'`;");
    Usb.ClearWritten(Device);
    Answer({'Q'});
    ASSERT_EQ(Status().ConnectState(), TState::Connected);
  }

  std::string TakeWritten() {
    std::string s = Usb.WrittenText(Device);
    Usb.ClearWritten(Device);
    return s;
  }

  TFakeUsbDriver Usb;
  TScopedServices UsbServices{TServices{&Clock, &Loop, &Prompt, &Usb, nullptr}};
  TChannelConfig Config;
  int Device = 0;
  std::unique_ptr<TMonitorChannel> Channel;
  std::vector<std::string> Traces;
  std::vector<std::vector<double>> Records;
};

}  // namespace

TEST(MonitorChannelParse, AnswersBecomeNumbers) {
  EXPECT_DOUBLE_EQ(TMonitorChannel::ParseMeasure("23.5"), 23.5);
  EXPECT_DOUBLE_EQ(TMonitorChannel::ParseMeasure("+023,4V"), 23.4);
  EXPECT_DOUBLE_EQ(TMonitorChannel::ParseMeasure(" 12.25 C"), 12.25);
  EXPECT_TRUE(std::isnan(TMonitorChannel::ParseMeasure("999.99")));
  EXPECT_TRUE(std::isnan(TMonitorChannel::ParseMeasure(" 999.99 ")));
  EXPECT_TRUE(std::isnan(TMonitorChannel::ParseMeasure("ERR")));
  EXPECT_TRUE(std::isnan(TMonitorChannel::ParseMeasure("")));
  // A reading below zero keeps its sign.
  EXPECT_DOUBLE_EQ(TMonitorChannel::ParseMeasure("-12,5C"), -12.5);
  EXPECT_DOUBLE_EQ(TMonitorChannel::ParseMeasure("T-3.0"), -3.0);
}

TEST_F(MonitorChannelTest, PingConnectsAndPowersTheChannel) {
  OpenLink();
  EXPECT_EQ(Usb.Written(Device), (TBytes{0x27, 0x60, 0x3B}));
  EXPECT_EQ(Usb.State(Device).Baud, 460800u);
  EXPECT_EQ(Channel->Version(), "MonitorLid001000001");
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqPing);
  EXPECT_EQ(Traces.back(), ">Ping");

  Answer(Line("x"));  // not the ping answer: still waiting
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqPing);
  Answer(Line("q"));  // a "q" line counts
  EXPECT_EQ(Status().ConnectState(), TState::Connected);
  EXPECT_EQ(Status().PowerState(), TState::LaserOn);
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqIdle);
}

TEST_F(MonitorChannelTest, OneCycleQueriesEveryMeasureAndDeliversOneRecord) {
  AddMeasure(4, "NAME:T1");
  AddMeasure(2, "");  // listed but not measured
  AddMeasure(0, "NAME:U1");
  AddMeasure(7, "NAME:U2");
  Connect();

  ASSERT_TRUE(Channel->AskData());
  EXPECT_EQ(TakeWritten(), "B");
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqMeasure);
  EXPECT_EQ(Status().Text, "Getting datas");
  EXPECT_EQ(Traces.back(), ">Ask measure <B>...");
  Answer(Line("23.5"));
  EXPECT_EQ(TakeWritten(), "Z");
  Answer(Line("+023,4V"));
  EXPECT_EQ(TakeWritten(), ",");
  EXPECT_TRUE(Records.empty());
  Answer(Line("999.99"));
  EXPECT_EQ(TakeWritten(), "");

  ASSERT_EQ(Records.size(), 1u);
  const auto& r = Records[0];
  ASSERT_EQ(r.size(), 4u);
  EXPECT_DOUBLE_EQ(r[0], 23.5);
  EXPECT_TRUE(std::isnan(r[1]));
  EXPECT_DOUBLE_EQ(r[2], 23.4);
  EXPECT_TRUE(std::isnan(r[3]));
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqIdle);
  EXPECT_EQ(Status().Text, "Receive datas");

  // The next cycle starts again with the first measure.
  ASSERT_TRUE(Channel->AskData());
  EXPECT_EQ(TakeWritten(), "B");
}

TEST_F(MonitorChannelTest, WithoutOnDataTheCycleRunsOnAndWithoutMeasuresNothingIsSent) {
  AddMeasure(1, "A");
  AddMeasure(3, "B");
  AddMeasure(5, "");  // listed but not measured
  Connect(false);
  ASSERT_TRUE(Channel->AskData());
  EXPECT_EQ(TakeWritten(), "X");
  Answer(Line("1"));
  EXPECT_EQ(TakeWritten(), "V");
  Answer(Line("2"));
  EXPECT_EQ(TakeWritten(), "X");
  EXPECT_DOUBLE_EQ(Channel->Value(0), 1.0);
  EXPECT_DOUBLE_EQ(Channel->Value(1), 2.0);

  Config.InfoDescriptions.clear();
  AddMeasure(0, "");
  Connect();
  EXPECT_FALSE(Channel->AskData());
  EXPECT_EQ(TakeWritten(), "");
}

TEST_F(MonitorChannelTest, ARepeatedQueryAsksForTheSameMeasure) {
  AddMeasure(5, "NAME:A");
  AddMeasure(9, "NAME:B");
  AddMeasure(12, "NAME:C");
  Connect();
  ASSERT_TRUE(Channel->AskData());
  EXPECT_EQ(TakeWritten(), "N");
  Answer(Line("1.5"));
  EXPECT_EQ(TakeWritten(), "f");

  Clock.AdvanceMs(999);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Error(), 0u);
  Clock.AdvanceMs(1);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Text, "Error time out");
  EXPECT_EQ(Status().Error(), TMonitorChannel::ErrTimeOut);
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqMeasure);
  EXPECT_EQ(Traces.back(), "<Error time out");

  Channel->Retry(true);
  EXPECT_EQ(TakeWritten(), "f");
  EXPECT_EQ(Channel->Pending(), 1);
  EXPECT_EQ(Status().Error(), 0u);
  Answer(Line("2.5"));
  EXPECT_EQ(Channel->Pending(), 0);
  EXPECT_EQ(TakeWritten(), "s");
  Answer(Line("3.5"));
  ASSERT_EQ(Records.size(), 1u);
  EXPECT_EQ(Records[0], (std::vector<double>{1.5, 2.5, 3.5}));
}

TEST_F(MonitorChannelTest, AnUnansweredPingIsRepeated) {
  OpenLink();
  Usb.ClearWritten(Device);
  Clock.AdvanceMs(1000);
  Channel->CheckTimeOut(Clock.NowUTC());
  EXPECT_EQ(Status().Error(), TMonitorChannel::ErrTimeOut);
  Channel->Retry(true);
  EXPECT_EQ(TakeWritten(), "'`;");
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqPing);
  Answer({'Q'});
  EXPECT_EQ(Status().ConnectState(), TState::Connected);
}

TEST_F(MonitorChannelTest, AnAnswerWithoutQueryIsAnErrorAndAnOverlongOneAProtocolError) {
  AddMeasure(0, "NAME:A");
  Connect();
  Answer(Line("12.0"));
  EXPECT_EQ(Status().Text, "Receive datas without ask");
  EXPECT_EQ(Status().Error(), TMonitorChannel::ErrNotAsked);
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqIdle);

  ASSERT_TRUE(Channel->AskData());
  Answer(Line("1234567890123"));
  EXPECT_EQ(Status().Text, "Protocol error");
  EXPECT_EQ(Status().Error(), TChannel::ErrProtocol);
  EXPECT_EQ(Status().AcqState(), TMonitorChannel::AcqIdle);
  EXPECT_TRUE(Records.empty());
}

TEST_F(MonitorChannelTest, NeverMoreThanFourteenMeasures) {
  for (int i = 0; i < 16; ++i) AddMeasure(i % 14, "NAME:M" + std::to_string(i));
  Connect();
  std::string sent;
  ASSERT_TRUE(Channel->AskData());
  for (int i = 0; i < 14; ++i) {
    sent += TakeWritten();
    Answer(Line(std::to_string(i)));
  }
  EXPECT_EQ(sent, "ZXCVBNM,bfkos(");
  EXPECT_EQ(TakeWritten(), "");
  ASSERT_EQ(Records.size(), 1u);
  ASSERT_EQ(Records[0].size(), 14u);
  EXPECT_DOUBLE_EQ(Records[0][13], 13.0);
}

TEST_F(MonitorChannelTest, UnknownProtocol) {
  Config.Protocol = "LIDAR";
  Build();
  EXPECT_EQ(Status().Text, "Unknown Protocol");
  EXPECT_EQ(Status().Error(), TChannel::ErrProtocol);
  EXPECT_EQ(Channel->Protocol(), nullptr);
  EXPECT_FALSE(Channel->Ping());
  EXPECT_FALSE(Channel->AskData());
}
