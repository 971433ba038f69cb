#include "kernel/comm/FtdiUSB.h"

#include <chrono>
#include <thread>

#include "Platform/FakeUsbDriver.h"
#include "kernel/LidarError.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

class FtdiUSBTest : public Test::TSimulatedTime {
 protected:
  FtdiUSBTest() {
    Usb.OnReceiveData = [this](TFtdiUSB* sender, int inQueue) {
      EXPECT_EQ(sender, &Usb);
      Received.push_back(inQueue);
    };
    Usb.OnDisconnect = [this](TFtdiUSB*) { ++Disconnects; };
  }

  // Adds a device and opens it, expecting success.
  int OpenNew(const std::string& desc = "ORML LIDAR") {
    const int dev = Fake.AddDevice(desc, "SN1");
    Usb.DeviceDescription = desc;
    EXPECT_TRUE(Usb.Open());
    return dev;
  }
  // Expects Open to fail with the given step code.
  void ExpectOpenFails(TFtdiUSB& usb, int code) {
    EXPECT_THROW(usb.Open(), ELidarError);
    EXPECT_EQ(usb.LastError(), code);
  }

  std::string ReadAll() {
    std::vector<uint8_t> buf(static_cast<size_t>(Usb.AvailableBytes()) + 16);
    const int n = Usb.Read(buf.data(), static_cast<int>(buf.size()));
    return std::string(buf.begin(), buf.begin() + n);
  }

  TFakeUsbDriver Fake;
  TScopedServices Services_{TServices{&Clock, &Loop, &Prompt, &Fake, nullptr}};
  TFtdiUSB Usb;
  std::vector<int> Received;
  int Disconnects = 0;
};

TEST_F(FtdiUSBTest, BufferSizeTakesOnlyValuesInRange) {
  // Each value asked for, then the size kept: out of range changes nothing.
  const std::pair<int, int> steps[] = {
      {1024, 65536}, {1048576, 65536}, {1025, 1025}, {1048575, 1048575}, {-5, 1048575}};
  for (const auto& [asked, kept] : steps) {
    Usb.SetBufferSize(asked);
    EXPECT_EQ(Usb.BufferSize(), kept) << asked;
  }
}

TEST_F(FtdiUSBTest, ErrorTextsJoinStepAndDriverStatus) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {4, "USB Error IO error"},                         // no step
      {404, "USB queue stat error IO error"},            // step 4, driver status 4
      {600, "no Orlaq USB device "},                     // steps of their own
      {700, "USB device not found "},
      {119, "USB device count error Error 119"},         // unknown driver status
      {911, "USB Error Error 911"},                      // unknown step
      {-4, "USB Error Error -4"},
  };
  for (const auto& c : cases) {
    std::string text = "stale";
    TFtdiUSB::GetFtdiErrorStr(text, c.code);
    EXPECT_EQ(text, c.text) << c.code;
  }
}

TEST_F(FtdiUSBTest, NoDeviceAttachedFailsWith600) {
  Usb.DeviceDescription = "ORML LIDAR";
  try {
    Usb.Open();
    FAIL() << "open succeeded without a device";
  } catch (const ELidarError& e) {
    EXPECT_STREQ(e.what(), "no Orlaq USB device ");
  }
  EXPECT_EQ(Usb.LastError(), 600);
  EXPECT_FALSE(Usb.Connected());
  EXPECT_EQ(Disconnects, 0);  // a failed open is no disconnection
}

TEST_F(FtdiUSBTest, DriverFailuresGiveTheirStepCodes) {
  Fake.AddDevice("ORML LIDAR", "SN1");
  Usb.DeviceDescription = "ORML LIDAR";
  Fake.FailDeviceCount(FT_IO_ERROR);
  ExpectOpenFails(Usb, 104);
  Fake.FailDeviceCount(FT_OK);
  Fake.FailDeviceList(FT_INSUFFICIENT_RESOURCES);
  ExpectOpenFails(Usb, 205);
  Fake.FailDeviceList(FT_OK);
  Fake.FailOpen(FT_DEVICE_NOT_OPENED);
  ExpectOpenFails(Usb, 303);
  Fake.FailOpen(FT_OK);
  EXPECT_TRUE(Usb.Open());
  EXPECT_EQ(Usb.LastError(), 0);
  Usb.Close();

  // No driver installed at all: a count error.
  TScopedServices none(TServices{&Clock, &Loop, &Prompt, nullptr, nullptr});
  ExpectOpenFails(Usb, 117);
  EXPECT_TRUE(TFtdiUSB::GetFTDIList("", "").empty());
}

TEST_F(FtdiUSBTest, DescriptionMatchesAnyPartIgnoringCase) {
  Fake.AddDevice("other device", "SN0");
  const int dev = Fake.AddDevice("orml lidar channel 1", "SN1");
  Usb.DeviceDescription = "ORML LIDAR";
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(dev));
  EXPECT_EQ(Usb.DeviceFullname(), "orml lidar channel 1");
  EXPECT_EQ(Usb.DeviceSerialNumber(), "SN1");
  Usb.Close();
  EXPECT_EQ(Usb.DeviceFullname() + Usb.DeviceSerialNumber(), "");

  Usb.DeviceDescription = "LIDAR X";
  ExpectOpenFails(Usb, 700);
}

TEST_F(FtdiUSBTest, MultiPortChipsLoseThePortLetterOfTheSerialNumber) {
  Fake.AddDevice("ORML LIDAR A", "FT12345A", FT_DEVICE_2232H);
  const int portB = Fake.AddDevice("ORML LIDAR B", "FT99999B", FT_DEVICE_2232H);
  const int single = Fake.AddDevice("ORML MONITOR", "FT5555XY", FT_DEVICE_232R);

  // The serial number compared is the one without the letter.
  Usb.DeviceDescription = "ORML LIDAR";
  Usb.DeviceBySN = "FT12345A";
  ExpectOpenFails(Usb, 700);

  Usb.DeviceBySN = "ft99999";
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(portB));
  EXPECT_EQ(Usb.DeviceSerialNumber(), "FT99999");
  Usb.Close();

  // Single-port chips keep their whole serial number.
  Usb.DeviceDescription = "ORML MONITOR";
  Usb.DeviceBySN = "";
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(single));
  EXPECT_EQ(Usb.DeviceSerialNumber(), "FT5555XY");
}

TEST_F(FtdiUSBTest, DevicesInUseAreSkipped) {
  const int first = Fake.AddDevice("ORML LIDAR", "SN1");
  const int second = Fake.AddDevice("ORML LIDAR", "SN2");
  Fake.SetOpenedElsewhere(first, true);
  Usb.DeviceDescription = "ORML LIDAR";
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(second));

  // The only other match is taken now: a second component finds nothing.
  TFtdiUSB other;
  other.DeviceDescription = "ORML LIDAR";
  ExpectOpenFails(other, 700);
}

TEST_F(FtdiUSBTest, DevicesWithoutLocationOpenByIndex) {
  Fake.AddDevice("first", "SN0", FT_DEVICE_232R, 0);
  const int dev = Fake.AddDevice("ORML LIDAR", "SN1", FT_DEVICE_232R, 0);
  Usb.DeviceDescription = "ORML LIDAR";
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(dev));
  Usb.Close();
  EXPECT_FALSE(Fake.IsOpen(dev));

  // Neither description nor serial number: the first device.
  Usb.DeviceDescription = "";
  ASSERT_TRUE(Usb.Open());
  EXPECT_EQ(Usb.DeviceFullname(), "first");
}

TEST_F(FtdiUSBTest, OpenWithParametersSetsLineAndOutputs) {
  const int dev = Fake.AddDevice("ORML LIDAR", "SN1");
  Usb.DeviceDescription = "ORML LIDAR";
  ASSERT_TRUE(Usb.Open(115200, 7, 2, 2, 1));
  auto st = Fake.State(dev);
  EXPECT_EQ(st.Baud, 115200u);
  EXPECT_EQ(st.WordLength, 7);
  EXPECT_EQ(st.StopBits, FT_STOP_BITS_2);
  EXPECT_EQ(st.Parity, FT_PARITY_EVEN);
  EXPECT_EQ(st.Flow, FT_FLOW_RTS_CTS);
  EXPECT_TRUE(st.Dtr && st.Rts);
  EXPECT_GE(st.Resets, 1);
  EXPECT_GE(st.Purges, 2);  // at the start of the reader and with the settings
  EXPECT_EQ(Usb.GetOutLine(), 3);

  Usb.ChangeOutLine(0, TFtdiUSB::LineDtr);
  EXPECT_FALSE(Fake.State(dev).Dtr);
  EXPECT_TRUE(Fake.State(dev).Rts);
  EXPECT_EQ(Usb.GetOutLine(), 1);

  Usb.ChangeRSParameters(9600, 8, 1, 0, 3);
  st = Fake.State(dev);
  EXPECT_EQ(st.Baud, 9600u);
  EXPECT_EQ(st.Flow, FT_FLOW_XON_XOFF);
  EXPECT_EQ(st.Xon, 0x11);

  Usb.SetBreak(true);
  EXPECT_TRUE(Fake.State(dev).Break);
  Usb.SetBreak(false);
  EXPECT_FALSE(Fake.State(dev).Break);
}

TEST_F(FtdiUSBTest, ReceivedBytesRaiseOnReceiveDataOnTheLoop) {
  const int dev = OpenNew();
  Fake.Inject(dev, "hello");
  EXPECT_TRUE(Received.empty());  // only the main loop delivers
  Loop.AdvanceMs(1);
  ASSERT_EQ(Received, std::vector<int>{5});
  EXPECT_EQ(Usb.AvailableBytes(), 5);
  EXPECT_EQ(Usb.TotalRead(), 5u);

  // A read asking for more than is waiting gets what is waiting.
  uint8_t buf[64];
  EXPECT_EQ(Usb.Read(buf, sizeof(buf)), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "hello");
  EXPECT_EQ(Usb.AvailableBytes(), 0);
  EXPECT_EQ(Usb.Read(buf, sizeof(buf)), 0);

  // A partial read leaves the rest in order.
  Fake.Inject(dev, "abcdef");
  Loop.AdvanceMs(1);
  EXPECT_EQ(Usb.Read(buf, 2), 2);
  EXPECT_EQ(ReadAll(), "cdef");
}

TEST_F(FtdiUSBTest, RingWrapsAndNeverOverfills) {
  Usb.SetBufferSize(1025);
  const int dev = OpenNew();

  std::string first(1000, 'a');
  Fake.Inject(dev, first);
  Loop.AdvanceMs(1);
  EXPECT_EQ(ReadAll(), first);

  // The next block wraps past the end of the ring.
  std::string second;
  for (int i = 0; i < 900; ++i) second += static_cast<char>('0' + i % 10);
  Fake.Inject(dev, second);
  Loop.AdvanceMs(1);
  EXPECT_EQ(ReadAll(), second);

  // More than the ring holds: it fills to size - 1, the rest stays in the
  // driver until there is room again.
  std::string big;
  for (int i = 0; i < 3000; ++i) big += static_cast<char>('A' + i % 26);
  Fake.Inject(dev, big);
  Loop.AdvanceMs(1);
  EXPECT_EQ(Usb.AvailableBytes(), 1024);
  EXPECT_EQ(Fake.Pending(dev), 3000u - 1024u);
  std::string got;
  for (int i = 0; i < 5 && got.size() < big.size(); ++i) {
    got += ReadAll();
    Loop.AdvanceMs(1);
  }
  EXPECT_EQ(got, big);
  EXPECT_EQ(Usb.TotalRead(), 1000u + 900u + 3000u);
}

TEST_F(FtdiUSBTest, PurgeEmptiesRingAndDriver) {
  const int dev = OpenNew();
  Fake.Inject(dev, "stale answer");
  Loop.AdvanceMs(1);
  Fake.Inject(dev, "more");
  ASSERT_GT(Usb.AvailableBytes(), 0);
  EXPECT_TRUE(Usb.Purge());
  EXPECT_EQ(Usb.AvailableBytes(), 0);
  EXPECT_EQ(Fake.Pending(dev), 0u);
  Loop.AdvanceMs(5);
  EXPECT_EQ(Usb.AvailableBytes(), 0);

  // Still usable afterwards.
  Fake.Inject(dev, "fresh");
  Loop.AdvanceMs(1);
  EXPECT_EQ(ReadAll(), "fresh");

  Usb.Close();
  EXPECT_FALSE(Usb.Purge());
}

TEST_F(FtdiUSBTest, WriteSucceedsOnlyWhenAllBytesGoOut) {
  const uint8_t frame[] = {0x02, 'C', 0x03, '4', '2'};
  EXPECT_EQ(Usb.Write(frame, 5), 0);  // not open
  const int dev = OpenNew();
  EXPECT_EQ(Usb.Write(frame, 5), 5);
  EXPECT_EQ(Fake.Written(dev), std::vector<uint8_t>(frame, frame + 5));
  Fake.LimitWrites(3);
  EXPECT_EQ(Usb.Write(frame, 5), 0);
}

TEST_F(FtdiUSBTest, UnplugEndsTheReaderWithQueueStatusError) {
  const int dev = OpenNew();
  Fake.Unplug(dev);
  Loop.AdvanceMs(1);  // first failure: the device is reset and asked again
  EXPECT_EQ(Disconnects, 0);
  Loop.AdvanceMs(1);
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Usb.LastError(), 404);
  EXPECT_FALSE(Usb.Connected());
  EXPECT_FALSE(Fake.IsOpen(dev));
  Loop.AdvanceMs(100);
  EXPECT_EQ(Disconnects, 1);

  // Back in: found and opened again; failures separated by a success do not add up.
  const int again = Fake.AddDevice("ORML LIDAR", "SN1");
  ASSERT_TRUE(Usb.Open());
  EXPECT_TRUE(Fake.IsOpen(again));
  EXPECT_EQ(Usb.LastError(), 0);
  const int resets = Fake.State(again).Resets;
  for (int i = 0; i < 2; ++i) {
    Fake.FailQueueStatus(1);
    Loop.AdvanceMs(5);
    EXPECT_TRUE(Usb.Connected());
  }
  EXPECT_EQ(Fake.State(again).Resets, resets + 2);
}

// A driver that signals arrivals is read at once and polled seldom, as a
// reader thread waits on its event; a device plugged in again is opened anew
// while the handle from before the unplug stays dead.
TEST_F(FtdiUSBTest, SignalledReadingAndReplug) {
  Fake.SetInlineReading({200, true});
  const int dev = OpenNew();
  Fake.Inject(dev, "now");
  Loop.ProcessPosted();
  EXPECT_EQ(ReadAll(), "now");
  Fake.FailQueueStatus(1);  // no signal: only the poll sees the hiccup
  Loop.AdvanceMs(199);
  EXPECT_EQ(Fake.State(dev).Resets, 2);  // the two of the open
  Loop.AdvanceMs(1);
  EXPECT_EQ(Fake.State(dev).Resets, 3);
  Loop.AdvanceMs(200);  // a good poll: the hiccup is over

  Fake.Unplug(dev);
  Loop.ProcessPosted();
  EXPECT_EQ(Disconnects, 0);  // one failure is a hiccup
  Loop.AdvanceMs(200);
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Usb.LastError(), 404);

  // Plugged in again before the old handle was closed: that one stays dead.
  TFtdiUSB other;
  other.DeviceDescription = "ORML LIDAR";
  Fake.Replug(dev);
  ASSERT_TRUE(other.Open());
  EXPECT_EQ(Fake.State(dev).Opens, 2);
  Fake.Unplug(dev);
  TUsbHandle stale = UsbNoHandle;
  Fake.Replug(dev);
  EXPECT_FALSE(Fake.IsOpen(dev));
  EXPECT_EQ(Fake.OpenByLocation(0x1011, stale), FT_OK);
  uint32_t waiting = 0;
  EXPECT_EQ(Fake.GetQueueStatus(stale, waiting), FT_OK);
  EXPECT_EQ(Fake.GetQueueStatus(stale - 1, waiting), FT_IO_ERROR);
  EXPECT_EQ(Fake.Close(stale - 1), FT_OK);
  EXPECT_EQ(Fake.GetQueueStatus(stale - 1, waiting), FT_INVALID_HANDLE);
}

TEST_F(FtdiUSBTest, CloseRaisesOnDisconnectButDestructionDoesNot) {
  const int dev = OpenNew();
  EXPECT_TRUE(Usb.Open());  // already open: nothing more
  Usb.Close();
  EXPECT_EQ(Disconnects, 1);
  Usb.Close();  // nothing left to close
  EXPECT_EQ(Disconnects, 1);
  EXPECT_EQ(Usb.LastError(), 0);

  int otherDisconnects = 0;
  {
    TFtdiUSB other;
    other.OnDisconnect = [&](TFtdiUSB*) { ++otherDisconnects; };
    other.DeviceDescription = "ORML LIDAR";
    ASSERT_TRUE(other.Open());
    Fake.Inject(dev, "pending");
  }
  EXPECT_EQ(otherDisconnects, 0);
  EXPECT_FALSE(Fake.IsOpen(dev));
  Loop.AdvanceMs(5);  // nothing left that could fire
}

TEST_F(FtdiUSBTest, DeviceListMatchesWholePatterns) {
  Fake.AddDevice("ORML LIDAR A", "FT1A", FT_DEVICE_2232H, 0x1234);
  const int b = Fake.AddDevice("ORML LIDAR B", "FT1B", FT_DEVICE_2232H, 0x1235);
  Fake.AddDevice("", "", FT_DEVICE_232R, 7);
  Fake.SetOpenedElsewhere(b, true);

  auto all = TFtdiUSB::GetFTDIList("", "");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].SerialNumber, "FT1A");  // listed as reported
  EXPECT_EQ(all[0].LocId, 0x1234u);
  EXPECT_FALSE(all[0].Opened);
  EXPECT_TRUE(all[1].Opened);
  EXPECT_EQ(all[2].Description, "Unknown Descr.");
  EXPECT_EQ(all[2].SerialNumber, "Unknown SN");

  EXPECT_EQ(TFtdiUSB::GetFTDIList("ORML LIDAR", "").size(), 0u);  // whole description
  EXPECT_EQ(TFtdiUSB::GetFTDIList("ORML LIDAR .", "").size(), 2u);
  auto one = TFtdiUSB::GetFTDIList("ORML.*", "FT1B");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].Description, "ORML LIDAR B");
  // A pattern that is no valid expression lists nothing instead of failing.
  EXPECT_TRUE(TFtdiUSB::GetFTDIList("ORML (", "").empty());
}

// Real reader threads on the fake driver: bounded waits in real time.
class FtdiUSBThreadTest : public FtdiUSBTest {
 protected:
  FtdiUSBThreadTest() { Fake.SetThreaded(true); }

  template <class Pred>
  bool WaitUntil(Pred pred, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      Loop.ProcessPosted();
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Loop.ProcessPosted();
    return pred();
  }
};

TEST_F(FtdiUSBThreadTest, ReaderThreadDeliversBytesAndTakesRequests) {
  const int dev = Fake.AddDevice("ORML LIDAR", "SN1");
  Usb.DeviceDescription = "ORML LIDAR";
  ASSERT_TRUE(Usb.Open(460800, 8, 1, 0, 0));
  EXPECT_EQ(Fake.State(dev).Baud, 460800u);

  std::string got;
  Usb.OnReceiveData = [&](TFtdiUSB*, int n) {
    std::vector<uint8_t> buf(static_cast<size_t>(n));
    got.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(Usb.Read(buf.data(), n)));
  };
  std::string sent;
  for (int i = 0; i < 50; ++i) {
    const std::string part = "block" + std::to_string(i) + ";";
    sent += part;
    Fake.Inject(dev, part);
  }
  EXPECT_TRUE(WaitUntil([&] { return got.size() >= sent.size(); }));
  EXPECT_EQ(got, sent);
  Usb.ChangeOutLine(0, TFtdiUSB::LineRts);
  EXPECT_FALSE(Fake.State(dev).Rts);

  // An unplug is noticed by the reader and reported on the loop.
  Fake.Unplug(dev);
  EXPECT_TRUE(WaitUntil([&] { return Disconnects == 1; }));
  EXPECT_EQ(Usb.LastError(), 404);
  EXPECT_FALSE(Usb.Connected());
}

TEST_F(FtdiUSBThreadTest, WakeUpsQueuedForADestroyedComponentAreHarmless) {
  const int dev = Fake.AddDevice("ORML LIDAR", "SN1");
  int calls = 0;
  {
    TFtdiUSB other;
    other.OnReceiveData = [&](TFtdiUSB*, int) { ++calls; };
    other.DeviceDescription = "ORML LIDAR";
    ASSERT_TRUE(other.Open());
    ASSERT_TRUE(other.CheckReady(10000));  // the reader purges when it starts
    Fake.Inject(dev, "abc");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (other.TotalRead() < 3 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(other.TotalRead(), 3u);  // a wake-up is now queued
  }
  EXPECT_GE(Loop.ProcessPosted(), 1);
  EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace OrlaqLidar
