// Both sides of the virtual USB link together: the program's socket-device
// driver finds the simulator's devices through the devices file, opens one
// and exchanges a query, and sees it go away when it is unplugged.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Real/VirtualUsbDriver.h"
#include "Simulator/SimInstrument.h"
#include "tests/Simulator/RawClient.h"
#include "tests/Simulator/SimTestDefinition.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar::Test {
namespace {

using namespace std::chrono_literals;

// Bytes waiting on the handle within the time, read out; empty on time-out.
std::string ReadSome(TUsbDriver& usb, TUsbHandle h, size_t wanted, int timeoutMs, FT_STATUS* last = nullptr) {
  std::string got;
  for (int waited = 0; waited < timeoutMs && got.size() < wanted; waited += 5) {
    uint32_t count = 0;
    const FT_STATUS s = usb.GetQueueStatus(h, count);
    if (last) *last = s;
    if (s != FT_OK) break;
    if (count == 0) {
      std::this_thread::sleep_for(5ms);
      continue;
    }
    std::string buf(count, '\0');
    uint32_t read = 0;
    if (usb.Read(h, reinterpret_cast<uint8_t*>(buf.data()), count, read) != FT_OK) break;
    got.append(buf, 0, read);
  }
  return got;
}

TEST(SimulatorVirtualUsbTest, ProgramDriverListsOpensAndTalksToTheSimulatedDevices) {
  TTempDir dir;
  auto config = LoadSimTestDefinition();
  TSimOptions options;
  options.RateLimit = false;
  TSimInstrument sim(*config, options);
  ASSERT_TRUE(sim.Start(dir.Path())) << sim.LastError();

  TVirtualUsbDriver usb(sim.DevicesFile().string());
  uint32_t count = 0;
  ASSERT_EQ(usb.CreateDeviceInfoList(count), FT_OK);
  ASSERT_EQ(count, 4u);
  std::vector<TUsbDeviceInfo> list;
  ASSERT_EQ(usb.GetDeviceInfoList(list, count), FT_OK);
  ASSERT_EQ(list.size(), 4u);
  for (size_t i = 0; i < list.size(); ++i) {
    const auto& e = sim.Entry(static_cast<int>(i));
    EXPECT_EQ(list[i].Description, e.Description);
    EXPECT_EQ(list[i].SerialNumber, e.SerialNumber);
    EXPECT_EQ(list[i].Type, FT_DEVICE_2232H);
    EXPECT_EQ(list[i].LocId, static_cast<uint32_t>(e.LocationId));
  }

  const auto& lidar = sim.Entry(sim.FindDevice("SIM LIDAR 532P"));
  TUsbHandle h = UsbNoHandle;
  ASSERT_EQ(usb.OpenByLocation(static_cast<uint32_t>(lidar.LocationId), h), FT_OK);
  const std::string query = QueryFrame("C");
  uint32_t written = 0;
  ASSERT_EQ(usb.Write(h, reinterpret_cast<const uint8_t*>(query.data()), static_cast<uint32_t>(query.size()), written),
            FT_OK);
  EXPECT_EQ(written, query.size());
  const std::string version = "LS261001 104532P";
  std::string expected = "\x02" + version + "\x03";
  expected += Hex2(XorOf(expected));
  EXPECT_EQ(ReadSome(usb, h, expected.size(), 2000), expected);

  // Unplugged: the driver reports the device gone.
  sim.Server(sim.FindDevice("SIM LIDAR 532P")).Unplug();
  FT_STATUS last = FT_OK;
  ReadSome(usb, h, 1, 2000, &last);
  EXPECT_NE(last, FT_OK);
  usb.Close(h);
}

}  // namespace
}  // namespace OrlaqLidar::Test
