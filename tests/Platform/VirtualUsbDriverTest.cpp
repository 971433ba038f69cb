#include "Platform/Real/VirtualUsbDriver.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "Platform/Real/UsbBackend.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

// The device side: a listening Unix-domain socket and its one connection.
class TDeviceSide {
 public:
  explicit TDeviceSide(const std::string& path) : path_(path) {
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    ok_ = listen_ >= 0 && ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
          ::listen(listen_, 4) == 0;
  }
  ~TDeviceSide() {
    Hangup();
    if (listen_ >= 0) ::close(listen_);
    ::unlink(path_.c_str());
  }
  bool Ok() const { return ok_; }
  bool Accept(int timeoutMs = 5000) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return false;
    conn_ = ::accept(listen_, nullptr, nullptr);
    return conn_ >= 0;
  }
  void Send(const std::string& s) { ASSERT_EQ(::send(conn_, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size())); }
  // Reads until n bytes came or the time-out passed.
  std::string Receive(size_t n, int timeoutMs = 5000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{conn_, POLLIN, 0};
      if (::poll(&p, 1, 50) != 1) continue;
      char buf[256];
      const ssize_t r = ::recv(conn_, buf, sizeof(buf), 0);
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  void Hangup() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
  }

 private:
  std::string path_;
  int listen_ = -1;
  int conn_ = -1;
  bool ok_ = false;
};

class VirtualUsbDriverTest : public ::testing::Test {
 protected:
  void WriteDevices(const std::string& text) { Dir.WriteFile("devices.ini", text); }
  std::string Sock(const std::string& name) const { return (Dir / name).string(); }
  std::string DeviceSection(int n, const std::string& desc, const std::string& sn, int type, int loc,
                            const std::string& sock) const {
    return "[Device" + std::to_string(n) + "]\nDescription=" + desc + "\nSerialNumber=" + sn +
           "\nType=" + std::to_string(type) + "\nLocationId=" + std::to_string(loc) + "\nSocket=" + sock + "\n";
  }

  OrlaqLidar::Test::TTempDir Dir;
};

TEST_F(VirtualUsbDriverTest, ListingFollowsTheDevicesFile) {
  TVirtualUsbDriver drv((Dir / "devices.ini").string());
  uint32_t count = 99;
  EXPECT_EQ(drv.CreateDeviceInfoList(count), FT_OK);  // no file yet: no device
  EXPECT_EQ(count, 0u);

  WriteDevices("; simulated instrument\n" + DeviceSection(0, "ORML LIDAR A", "SIM0001A", 6, 4097, Sock("a")) +
               DeviceSection(1, "ORML MONITOR", "SIM0002", 5, 0, Sock("m")) + "[Other]\nDescription=x\n");
  ASSERT_EQ(drv.CreateDeviceInfoList(count), FT_OK);
  ASSERT_EQ(count, 2u);
  std::vector<TUsbDeviceInfo> list;
  ASSERT_EQ(drv.GetDeviceInfoList(list, count), FT_OK);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Description, "ORML LIDAR A");
  EXPECT_EQ(list[0].SerialNumber, "SIM0001A");
  EXPECT_EQ(list[0].Type, 6u);
  EXPECT_EQ(list[0].LocId, 4097u);
  EXPECT_EQ(list[1].LocId, 0u);

  // The device went away: the next listing no longer has it.
  WriteDevices(DeviceSection(1, "ORML MONITOR", "SIM0002", 5, 0, Sock("m")));
  ASSERT_EQ(drv.CreateDeviceInfoList(count), FT_OK);
  EXPECT_EQ(count, 1u);
}

TEST_F(VirtualUsbDriverTest, BytesFlowBothWaysAndHangupIsAnIoError) {
  TDeviceSide device(Sock("lidar.sock"));
  ASSERT_TRUE(device.Ok());
  WriteDevices(DeviceSection(0, "ORML LIDAR", "SIM1", 5, 77, Sock("lidar.sock")));
  TVirtualUsbDriver drv((Dir / "devices.ini").string());
  uint32_t count = 0;
  ASSERT_EQ(drv.CreateDeviceInfoList(count), FT_OK);

  TUsbHandle h = UsbNoHandle;
  ASSERT_EQ(drv.OpenByLocation(77, h), FT_OK);
  ASSERT_TRUE(device.Accept());
  auto event = std::make_shared<TUsbEvent>();
  ASSERT_EQ(drv.SetEventNotification(h, FT_EVENT_RXCHAR, event), FT_OK);

  // Listed as opened; a second open is refused.
  std::vector<TUsbDeviceInfo> list;
  ASSERT_EQ(drv.CreateDeviceInfoList(count), FT_OK);
  ASSERT_EQ(drv.GetDeviceInfoList(list, count), FT_OK);
  EXPECT_EQ(list.at(0).Flags & FT_FLAGS_OPENED, FT_FLAGS_OPENED);
  TUsbHandle h2 = UsbNoHandle;
  EXPECT_EQ(drv.Open(0, h2), FT_DEVICE_NOT_OPENED);

  // Settings are taken and ignored: nothing of ours goes on the wire.
  EXPECT_EQ(drv.SetBaudRate(h, 460800), FT_OK);
  EXPECT_EQ(drv.SetFlowControl(h, FT_FLOW_RTS_CTS, 0x11, 0x13), FT_OK);
  const uint8_t frame[] = {0x02, 'C', 0x03, '4', '2'};
  uint32_t written = 0;
  ASSERT_EQ(drv.Write(h, frame, 5, written), FT_OK);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(device.Receive(5), std::string("\x02" "C\x03" "42"));

  device.Send("\x02OK\x03" "1A");
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.size() < 6 && std::chrono::steady_clock::now() < end) {
    event->Wait(100);
    uint32_t waiting = 0;
    ASSERT_EQ(drv.GetQueueStatus(h, waiting), FT_OK);
    std::vector<uint8_t> buf(waiting + 1);
    uint32_t n = 0;
    ASSERT_EQ(drv.Read(h, buf.data(), static_cast<uint32_t>(buf.size()), n), FT_OK);  // more than waiting
    got.append(buf.begin(), buf.begin() + n);
  }
  EXPECT_EQ(got, std::string("\x02OK\x03" "1A"));

  // Purge drops what has arrived.
  device.Send("stale");
  uint32_t waiting = 0;
  for (int i = 0; i < 500 && waiting < 5; ++i) {
    event->Wait(10);
    drv.GetQueueStatus(h, waiting);
  }
  ASSERT_EQ(waiting, 5u);
  EXPECT_EQ(drv.Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(drv.GetQueueStatus(h, waiting), FT_OK);
  EXPECT_EQ(waiting, 0u);

  // The device closes its side: unplugged.
  device.Hangup();
  FT_STATUS st = FT_OK;
  for (int i = 0; i < 500 && st == FT_OK; ++i) {
    event->Wait(10);
    st = drv.GetQueueStatus(h, waiting);
  }
  EXPECT_EQ(st, FT_IO_ERROR);
  uint32_t n = 0;
  uint8_t b[4];
  EXPECT_EQ(drv.Read(h, b, 4, n), FT_IO_ERROR);
  EXPECT_EQ(drv.Write(h, frame, 5, written), FT_IO_ERROR);
  EXPECT_EQ(drv.Close(h), FT_OK);
  EXPECT_EQ(drv.Close(h), FT_INVALID_HANDLE);
  EXPECT_EQ(drv.GetQueueStatus(h, waiting), FT_INVALID_HANDLE);
}

TEST_F(VirtualUsbDriverTest, DeviceWithoutListenerCannotBeOpened) {
  WriteDevices(DeviceSection(0, "ORML LIDAR", "SIM1", 5, 0, Sock("nobody.sock")));
  TVirtualUsbDriver drv((Dir / "devices.ini").string());
  uint32_t count = 0;
  ASSERT_EQ(drv.CreateDeviceInfoList(count), FT_OK);
  TUsbHandle h = UsbNoHandle;
  EXPECT_EQ(drv.Open(0, h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(h, UsbNoHandle);
  EXPECT_EQ(drv.Open(1, h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(drv.OpenByLocation(1234, h), FT_DEVICE_NOT_FOUND);
}

TEST(UsbBackendTest, SelectionByName) {
  std::string error;
  auto drv = CreateUsbDriver("virtual:/tmp/devices.ini", error);
  ASSERT_NE(drv, nullptr);
  auto* virt = dynamic_cast<TVirtualUsbDriver*>(drv.get());
  ASSERT_NE(virt, nullptr);
  EXPECT_EQ(virt->DevicesFile(), "/tmp/devices.ini");
  EXPECT_NE(CreateUsbDriver("", error), nullptr);
  EXPECT_NE(CreateUsbDriver("libftdi", error), nullptr);
  EXPECT_EQ(CreateUsbDriver("virtual:", error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(CreateUsbDriver("serial", error), nullptr);
  EXPECT_NE(error.find("serial"), std::string::npos);

  ::setenv("SKYVANE_USB", "virtual:/x/y.ini", 1);
  drv = CreateUsbDriverFromEnvironment(error);
  ::unsetenv("SKYVANE_USB");
  virt = dynamic_cast<TVirtualUsbDriver*>(drv.get());
  ASSERT_NE(virt, nullptr);
  EXPECT_EQ(virt->DevicesFile(), "/x/y.ini");
}

}  // namespace
}  // namespace OrlaqLidar
