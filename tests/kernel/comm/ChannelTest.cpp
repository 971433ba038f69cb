#include "kernel/comm/Channel.h"

#include <stdexcept>

#include "Platform/FakeUsbDriver.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

// The smallest concrete channel: reads whatever arrives.
class TTestChannel : public TChannel {
 public:
  explicit TTestChannel(const TChannelConfig& config, int bufferLength = 0) : TChannel(config, bufferLength) {}

  bool AskData() override { return false; }
  void Retry(bool) override {}
  void ReceiveData(TFtdiUSB*, int count) override {
    if (Hold) return;
    const int n = usb_->Read(receiveBuffer_.data(), std::min(count, bufferLength_));
    Received.append(reinterpret_cast<const char*>(receiveBuffer_.data()), static_cast<size_t>(n));
  }
  void OpenDevice() override {
    if (ThrowOnOpen) throw std::runtime_error("no settings");
    usb_->Open(460800, 8, 1, 0, 0);
  }
  void DeviceStatusChanged(TStatus* status, TState::ChangeRaison reason) override {
    if (reason & TState::Connect) LinkStates.push_back(linkStatus_.ConnectState());
    TChannel::DeviceStatusChanged(status, reason);
  }
  // What a subclass does once the device has answered.
  void DeviceAnswered() { status_.SetConnectState(4); }

  bool ThrowOnOpen = false;
  bool Hold = false;  // leave received bytes in the ring
  std::string Received;
  std::vector<int> LinkStates;
};

struct TTraceLine {
  std::string Source;
  char Kind;
  std::string Text;
  TDateTime Time;
};

class ChannelTest : public Test::TSimulatedTime {
 protected:
  ChannelTest() {
    Config.USBDescriptor = "ORML LIDAR";
    Config.BufferLength = 16464;
  }

  std::unique_ptr<TTestChannel> MakeChannel(int bufferLength = 0) {
    auto ch = std::make_unique<TTestChannel>(Config, bufferLength);
    ch->OnTrace = [this](const std::string& source, char kind, const uint8_t* data, int length, TDateTime t) {
      Traces.push_back({source, kind, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)), t});
    };
    ch->GetStatus()->OnChange = [this](TStatus* s, TState::ChangeRaison r) {
      if (r & TState::Connect) ChannelStates.push_back(s->ConnectState());
    };
    return ch;
  }

  // The instrument's tick: time moves on 100 ms at a time, the channel checks.
  void Run(TChannel& ch, int ms) {
    for (int t = 0; t < ms; t += 100) {
      Loop.AdvanceMs(100);
      ch.CheckTimeOut(Clock.NowUTC());
    }
  }

  int CountTraces(const std::string& prefix) const {
    int n = 0;
    for (const auto& t : Traces)
      if (t.Text.rfind(prefix, 0) == 0) ++n;
    return n;
  }
  bool HasTrace(const std::string& text) const {
    for (const auto& t : Traces)
      if (t.Text == text) return true;
    return false;
  }

  // A channel connected to its device, as a subclass leaves it.
  std::unique_ptr<TTestChannel> Connected(int& dev) {
    dev = Fake.AddDevice("ORML LIDAR", "FT4711");
    auto ch = MakeChannel();
    ch->SetConnectState(4);
    Run(*ch, 3000);
    EXPECT_EQ(ch->LinkStatus().ConnectState(), 4);
    ch->DeviceAnswered();
    return ch;
  }

  TFakeUsbDriver Fake;
  TScopedServices Services_{TServices{&Clock, &Loop, &Prompt, &Fake, nullptr}};
  TChannelConfig Config;
  std::vector<TTraceLine> Traces;
  std::vector<int> ChannelStates;
};

TEST_F(ChannelTest, ConstructionSetsUpStatusesAndBuffers) {
  auto ch = MakeChannel();
  TStatus* st = ch->GetStatus();
  EXPECT_EQ(st->ConnectState(), 2);
  ASSERT_NE(st->Children, nullptr);
  EXPECT_EQ(*st->Children, std::vector<TStatus*>{&ch->LinkStatus()});
  EXPECT_EQ(ch->BufferLength(), 16464);
  EXPECT_EQ(ch->Usb()->BufferSize(), 18110);  // 1.1 x the buffer length
  EXPECT_EQ(ch->Usb()->DeviceDescription, "ORML LIDAR");

  auto small = MakeChannel(100);
  EXPECT_EQ(small->BufferLength(), 100);
  EXPECT_EQ(small->Usb()->BufferSize(), 65536);  // 110 is too small a ring: the default stays
}

TEST_F(ChannelTest, WithoutDeviceRetriesEverySecondQuietly) {
  auto ch = MakeChannel();
  ch->SetConnectState(4);
  EXPECT_EQ(ch->GetConnectState(), 3);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 3);

  Run(*ch, 2900);  // not before 3 s after construction
  EXPECT_EQ(CountTraces("WaitConnect"), 0);
  Run(*ch, 100);
  EXPECT_EQ(CountTraces("WaitConnect"), 1);
  EXPECT_TRUE(HasTrace("WaitConnect no Orlaq USB device "));
  EXPECT_EQ(ch->LinkStatus().Text, "no Orlaq USB device ");
  EXPECT_EQ(ch->LinkStatus().Error(), 0x80000258u);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 3);
  EXPECT_EQ(ch->GetStatus()->AcqState(), 1);
  // No device is the normal state before power-up: no "USB error".
  EXPECT_EQ(ch->GetStatus()->Error(), 0u);
  EXPECT_NE(ch->GetStatus()->Text, "USB error");

  Run(*ch, 5000);
  EXPECT_EQ(CountTraces("WaitConnect"), 6);
  EXPECT_EQ(CountTraces("Open"), 0);  // the open itself never succeeded

  // Plugged in: the next attempt connects the link.
  Fake.AddDevice("ORML LIDAR", "FT4711");
  Run(*ch, 1000);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 4);
  EXPECT_EQ(ch->LinkStatus().Text, "OK");
  EXPECT_EQ(ch->LinkStatus().Error(), 0u);
  EXPECT_EQ(ch->GetStatus()->AcqState(), 3);
  EXPECT_EQ(ch->SerialNumber(), "FT4711");
  EXPECT_TRUE(HasTrace("Open"));
  EXPECT_TRUE(HasTrace("Connected to FT4711"));
  // The channel itself is connected by its subclass once the device answers.
  EXPECT_EQ(ch->GetConnectState(), 3);
}

TEST_F(ChannelTest, FirstOpenWaitsOnlyForTheChannelAge) {
  Fake.AddDevice("ORML LIDAR", "FT4711");
  auto ch = MakeChannel();
  Run(*ch, 5000);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 2);  // not wanted: nothing opened
  ch->SetConnectState(4);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 4);  // old enough: opened at once
}

TEST_F(ChannelTest, UnmatchedDeviceIsAUsbError) {
  Fake.AddDevice("SOMETHING ELSE", "X1");
  auto ch = MakeChannel();
  ch->SetConnectState(4);
  Run(*ch, 3000);
  EXPECT_EQ(ch->LinkStatus().Error(), 0x800002BCu);
  EXPECT_EQ(ch->GetStatus()->Text, "USB error");
  EXPECT_EQ(ch->GetStatus()->Error(), TChannel::ErrUsb);
  EXPECT_EQ(ch->GetStatus()->AcqState(), 3);
  EXPECT_TRUE(HasTrace("Changed USB device not found "));
}

TEST_F(ChannelTest, UnplugDropsToConnectingAndReopensWhenBack) {
  int dev = 0;
  auto ch = Connected(dev);
  ASSERT_EQ(ch->GetConnectState(), 4);
  ch->LinkStates.clear();
  ChannelStates.clear();

  Fake.Unplug(dev);
  Loop.AdvanceMs(2);  // two failed queue queries end the reader
  EXPECT_EQ(ch->LinkStates, (std::vector<int>{1, 2}));
  EXPECT_EQ(ChannelStates, std::vector<int>{3});
  EXPECT_TRUE(HasTrace("Disconnected USB queue stat error IO error"));
  EXPECT_TRUE(HasTrace("Changed USB queue stat error IO error"));
  EXPECT_TRUE(HasTrace("Disconnect"));
  EXPECT_EQ(ch->GetStatus()->Error(), 0u);  // an unplug is no "USB error"
  EXPECT_EQ(ch->LinkStatus().Text, "Disconnected");
  EXPECT_EQ(ch->SerialNumber(), "");

  Run(*ch, 100);  // next check: connecting again
  EXPECT_EQ(ch->LinkStates, (std::vector<int>{1, 2, 3}));
  // The open made at connection time was less than a second ago.
  EXPECT_EQ(CountTraces("WaitConnect"), 0);
  Run(*ch, 1000);
  EXPECT_EQ(CountTraces("WaitConnect"), 1);
  EXPECT_EQ(ch->LinkStatus().Text, "no Orlaq USB device ");
  Run(*ch, 2000);
  EXPECT_EQ(CountTraces("WaitConnect"), 3);

  Fake.AddDevice("ORML LIDAR", "FT4711");
  Run(*ch, 1000);
  EXPECT_EQ(ch->LinkStates.back(), 4);
  EXPECT_EQ(ch->SerialNumber(), "FT4711");
  EXPECT_EQ(ch->GetConnectState(), 3);  // until the subclass hears the device
}

TEST_F(ChannelTest, DisconnectClosesTheDevice) {
  int dev = 0;
  auto ch = Connected(dev);
  ChannelStates.clear();
  ch->LinkStates.clear();
  Traces.clear();

  ch->SetConnectState(2);
  EXPECT_EQ(ChannelStates, (std::vector<int>{1, 2}));
  EXPECT_EQ(ch->LinkStates, (std::vector<int>{1, 2}));
  EXPECT_FALSE(Fake.IsOpen(dev));
  EXPECT_TRUE(HasTrace("Close"));
  EXPECT_EQ(ch->GetStatus()->AcqState(), 3);

  Run(*ch, 5000);  // no longer wanted: stays closed
  EXPECT_FALSE(Fake.IsOpen(dev));
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 2);
}

TEST_F(ChannelTest, DisconnectWhileTheLinkIsAlreadyClosedCompletes) {
  int dev = 0;
  auto ch = Connected(dev);
  Fake.Unplug(dev);
  Loop.AdvanceMs(2);
  ASSERT_EQ(ch->LinkStatus().ConnectState(), 2);
  ASSERT_EQ(ch->GetConnectState(), 3);
  // The link will never leave state 4 again, so nothing else would finish
  // the disconnection.
  ch->SetConnectState(1);
  EXPECT_EQ(ch->GetConnectState(), 2);
  Run(*ch, 2000);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 2);
}

TEST_F(ChannelTest, WriteAndPurgeGoToTheDeviceAndAreTraced) {
  int dev = 0;
  auto ch = Connected(dev);
  Traces.clear();
  const uint8_t frame[] = {0x02, 'C', 0x03, '4', '2'};
  EXPECT_EQ(ch->Write(frame, 5), 5);
  EXPECT_EQ(Fake.Written(dev), std::vector<uint8_t>(frame, frame + 5));
  ASSERT_EQ(Traces.size(), 1u);
  EXPECT_EQ(Traces[0].Source + Traces[0].Kind + Traces[0].Text, std::string("ORML LIDAR>\x02" "C\x03" "42"));
  EXPECT_DOUBLE_EQ(Traces[0].Time, Clock.NowUTC());

  Fake.LimitWrites(2);
  EXPECT_EQ(ch->Write(frame, 5), 0);
  EXPECT_EQ(Traces.size(), 2u);  // traced all the same

  ch->Hold = true;
  Fake.Inject(dev, "old");
  Loop.AdvanceMs(1);
  ASSERT_GT(ch->Usb()->AvailableBytes(), 0);
  EXPECT_TRUE(ch->Purge());
  EXPECT_EQ(Fake.Pending(dev), 0u);
  EXPECT_EQ(ch->Usb()->AvailableBytes(), 0);

  ch->TraceStatus('<', "Got version");
  EXPECT_EQ(Traces.back().Source + Traces.back().Kind + Traces.back().Text, "Channel ORML LIDAR<Got version");
}

TEST_F(ChannelTest, FailingOpenDeviceIsRetriedWithoutOpenTrace) {
  Fake.AddDevice("ORML LIDAR", "FT4711");
  auto ch = MakeChannel();
  ch->ThrowOnOpen = true;
  ch->SetConnectState(4);
  Run(*ch, 4000);
  EXPECT_EQ(CountTraces("Open"), 0);
  EXPECT_EQ(CountTraces("WaitConnect"), 2);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 3);
  ch->ThrowOnOpen = false;
  Run(*ch, 1000);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 4);
}

}  // namespace
}  // namespace OrlaqLidar

namespace OrlaqLidar {
namespace {

TEST_F(ChannelTest, TheOwnersGateDecidesWhenTheDeviceIsOpened) {
  Fake.AddDevice("ORML LIDAR", "FT4711");
  auto ch = MakeChannel();
  bool open = false;
  ch->OpenGate = [&open] { return open; };
  ch->SetConnectState(4);
  Run(*ch, 5000);
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 3);
  open = true;
  Run(*ch, 100);  // at once, not after another retry period
  EXPECT_EQ(ch->LinkStatus().ConnectState(), 4);
}

}  // namespace
}  // namespace OrlaqLidar
