#include "Platform/Real/LibFtdiUsbDriver.h"

#include <libftdi1/ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "Platform/Real/ReceiveQueue.h"

namespace OrlaqLidar {

namespace {

constexpr size_t ReceiveLimit = 4 * 1024 * 1024;
constexpr int ReadTimeoutMs = 100;
constexpr unsigned char LatencyMs = 2;

// Chip type and port count from the device release number.
void ChipOf(uint16_t bcdDevice, uint32_t& type, int& ports) {
  ports = 1;
  switch (bcdDevice >> 8) {
    case 0x02: type = FT_DEVICE_AM; break;
    case 0x04: type = FT_DEVICE_BM; break;
    case 0x05: type = FT_DEVICE_2232C; ports = 2; break;
    case 0x06: type = FT_DEVICE_232R; break;
    case 0x07: type = FT_DEVICE_2232H; ports = 2; break;
    case 0x08: type = FT_DEVICE_4232H; ports = 4; break;
    case 0x09: type = FT_DEVICE_232H; break;
    case 0x10: type = FT_DEVICE_X_SERIES; break;
    default: type = FT_DEVICE_UNKNOWN; break;
  }
}

}  // namespace

struct TLibFtdiUsbDriver::TPort {
  ftdi_context* Ctx = nullptr;
  int Bus = 0, Address = 0, Interface = 1;
  std::mutex CtxMutex;  // libftdi calls on Ctx
  TReceiveQueue Queue{ReceiveLimit};
  std::atomic<bool> Stop{false};
  std::thread Pump;
  // Line settings, kept to switch the break on and off.
  ftdi_bits_type Bits = BITS_8;
  ftdi_stopbits_type StopBits = STOP_BIT_1;
  ftdi_parity_type Parity = NONE;

  void Run() {
    std::vector<uint8_t> buf(4096);
    while (!Stop) {
      if (!Queue.HasRoom()) {
        // The program is not reading; leave the bytes in the chip.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      int n;
      {
        std::lock_guard lock(CtxMutex);
        n = ftdi_read_data(Ctx, buf.data(), static_cast<int>(buf.size()));
      }
      if (n > 0) {
        Queue.Push(buf.data(), static_cast<size_t>(n));
      } else if (n < 0) {
        Queue.MarkLost();
        return;
      } else {
        // Nothing came within the chip's latency; give writers a turn.
        std::this_thread::yield();
      }
    }
  }
};

TLibFtdiUsbDriver::TLibFtdiUsbDriver() = default;

TLibFtdiUsbDriver::~TLibFtdiUsbDriver() {
  std::vector<TUsbHandle> handles;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [h, p] : ports_) handles.push_back(h);
  }
  for (TUsbHandle h : handles) Close(h);
}

FT_STATUS TLibFtdiUsbDriver::Enumerate(std::vector<TEntry>& entries) {
  entries.clear();
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return FT_INSUFFICIENT_RESOURCES;
  ftdi_device_list* devs = nullptr;
  const int found = ftdi_usb_find_all(ctx, &devs, 0, 0);
  if (found < 0) {
    ftdi_free(ctx);
    return found == -3 ? FT_INSUFFICIENT_RESOURCES : FT_IO_ERROR;
  }
  for (ftdi_device_list* d = devs; d; d = d->next) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(d->dev, &desc) != 0) continue;
    char description[64] = {0};
    char serial[16] = {0};
    // Strings of a device in use elsewhere may be unreadable: list it anyway.
    ftdi_usb_get_strings(ctx, d->dev, nullptr, 0, description, sizeof(description), serial, sizeof(serial));
    uint32_t type;
    int ports;
    ChipOf(desc.bcdDevice, type, ports);
    const int bus = libusb_get_bus_number(d->dev);
    const int address = libusb_get_device_address(d->dev);
    for (int port = 1; port <= ports; ++port) {
      TEntry e;
      e.Bus = bus;
      e.Address = address;
      e.Interface = port;
      e.Info.Type = type;
      e.Info.ID = (static_cast<uint32_t>(desc.idVendor) << 16) | desc.idProduct;
      e.Info.LocId = (static_cast<uint32_t>(bus) << 12) | (static_cast<uint32_t>(address) << 4) |
                     static_cast<uint32_t>(port);
      e.Info.Description = description;
      e.Info.SerialNumber = serial;
      if (ports > 1) {
        const char letter = static_cast<char>('A' + port - 1);
        if (!e.Info.Description.empty()) e.Info.Description = e.Info.Description.substr(0, 61) + " " + letter;
        if (!e.Info.SerialNumber.empty()) e.Info.SerialNumber = e.Info.SerialNumber.substr(0, 14) + letter;
      }
      entries.push_back(std::move(e));
    }
  }
  ftdi_list_free(&devs);
  ftdi_free(ctx);
  return FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::CreateDeviceInfoList(uint32_t& count) {
  count = 0;
  std::vector<TEntry> entries;
  const FT_STATUS st = Enumerate(entries);
  if (st != FT_OK) return st;
  std::lock_guard lock(mutex_);
  for (TEntry& e : entries)
    for (const auto& [h, p] : ports_)
      if (p->Bus == e.Bus && p->Address == e.Address && p->Interface == e.Interface) {
        e.Info.Flags = FT_FLAGS_OPENED;
        e.Info.Handle = h;
      }
  snapshot_ = std::move(entries);
  count = static_cast<uint32_t>(snapshot_.size());
  return FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::GetDeviceInfoList(std::vector<TUsbDeviceInfo>& list, uint32_t& count) {
  std::lock_guard lock(mutex_);
  const size_t n = std::min<size_t>(count, snapshot_.size());
  list.clear();
  for (size_t i = 0; i < n; ++i) list.push_back(snapshot_[i].Info);
  count = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::Open(int index, TUsbHandle& handle) {
  handle = UsbNoHandle;
  TEntry entry;
  {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= snapshot_.size()) return FT_DEVICE_NOT_FOUND;
    entry = snapshot_[static_cast<size_t>(index)];
  }
  return OpenEntry(entry, handle);
}

FT_STATUS TLibFtdiUsbDriver::OpenByLocation(uint32_t locId, TUsbHandle& handle) {
  handle = UsbNoHandle;
  std::vector<TEntry> entries;
  const FT_STATUS st = Enumerate(entries);
  if (st != FT_OK) return st;
  for (const TEntry& e : entries)
    if (e.Info.LocId == locId) return OpenEntry(e, handle);
  return FT_DEVICE_NOT_FOUND;
}

FT_STATUS TLibFtdiUsbDriver::OpenEntry(const TEntry& entry, TUsbHandle& handle) {
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return FT_INSUFFICIENT_RESOURCES;
  ftdi_device_list* devs = nullptr;
  FT_STATUS st = FT_DEVICE_NOT_FOUND;
  if (ftdi_set_interface(ctx, static_cast<ftdi_interface>(entry.Interface)) == 0 &&
      ftdi_usb_find_all(ctx, &devs, 0, 0) >= 0) {
    for (ftdi_device_list* d = devs; d; d = d->next) {
      if (libusb_get_bus_number(d->dev) != entry.Bus || libusb_get_device_address(d->dev) != entry.Address)
        continue;
      // Claiming fails while another program holds the port.
      st = ftdi_usb_open_dev(ctx, d->dev) == 0 ? FT_OK : FT_DEVICE_NOT_OPENED;
      break;
    }
    ftdi_list_free(&devs);
  }
  if (st != FT_OK) {
    ftdi_free(ctx);
    return st;
  }
  ctx->usb_read_timeout = ReadTimeoutMs;
  ftdi_set_latency_timer(ctx, LatencyMs);
  auto port = std::make_shared<TPort>();
  port->Ctx = ctx;
  port->Bus = entry.Bus;
  port->Address = entry.Address;
  port->Interface = entry.Interface;
  port->Pump = std::thread([p = port.get()] { p->Run(); });
  std::lock_guard lock(mutex_);
  handle = nextHandle_++;
  ports_[handle] = std::move(port);
  return FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::Close(TUsbHandle handle) {
  std::shared_ptr<TPort> port;
  {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle);
    if (it == ports_.end()) return FT_INVALID_HANDLE;
    port = std::move(it->second);
    ports_.erase(it);
  }
  port->Stop = true;
  if (port->Pump.joinable()) port->Pump.join();
  ftdi_usb_close(port->Ctx);
  ftdi_free(port->Ctx);
  port->Ctx = nullptr;
  return FT_OK;
}

std::shared_ptr<TLibFtdiUsbDriver::TPort> TLibFtdiUsbDriver::PortOf(TUsbHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle);
  return it == ports_.end() ? nullptr : it->second;
}

template <class Op>
FT_STATUS TLibFtdiUsbDriver::WithPort(TUsbHandle handle, Op op) {
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  if (port->Queue.IsLost()) return FT_IO_ERROR;
  std::lock_guard lock(port->CtxMutex);
  return op(*port) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::ResetDevice(TUsbHandle handle) {
  return WithPort(handle, [](TPort& p) { return ftdi_usb_reset(p.Ctx); });
}

FT_STATUS TLibFtdiUsbDriver::Purge(TUsbHandle handle, uint32_t mask) {
  const FT_STATUS st = WithPort(handle, [mask](TPort& p) {
    if ((mask & FT_PURGE_RX) && (mask & FT_PURGE_TX)) return ftdi_tcioflush(p.Ctx);
    if (mask & FT_PURGE_RX) return ftdi_tciflush(p.Ctx);
    if (mask & FT_PURGE_TX) return ftdi_tcoflush(p.Ctx);
    return 0;
  });
  if (st == FT_OK && (mask & FT_PURGE_RX)) PortOf(handle)->Queue.Clear();
  return st;
}

FT_STATUS TLibFtdiUsbDriver::SetBaudRate(TUsbHandle handle, uint32_t baud) {
  const auto st = WithPort(handle, [baud](TPort& p) { return ftdi_set_baudrate(p.Ctx, static_cast<int>(baud)); });
  return st == FT_IO_ERROR ? FT_INVALID_BAUD_RATE : st;
}

FT_STATUS TLibFtdiUsbDriver::SetDataCharacteristics(TUsbHandle handle, uint8_t wordLength, uint8_t stopBits,
                                                    uint8_t parity) {
  if (parity > 4 || (wordLength != 7 && wordLength != 8) || stopBits > 2) return FT_INVALID_PARAMETER;
  return WithPort(handle, [&](TPort& p) {
    p.Bits = wordLength == 7 ? BITS_7 : BITS_8;
    p.StopBits = static_cast<ftdi_stopbits_type>(stopBits);
    p.Parity = static_cast<ftdi_parity_type>(parity);
    return ftdi_set_line_property(p.Ctx, p.Bits, p.StopBits, p.Parity);
  });
}

FT_STATUS TLibFtdiUsbDriver::SetFlowControl(TUsbHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  return WithPort(handle, [&](TPort& p) {
    if (flow == FT_FLOW_XON_XOFF) return ftdi_setflowctrl_xonxoff(p.Ctx, xon, xoff);
    return ftdi_setflowctrl(p.Ctx, flow);
  });
}

FT_STATUS TLibFtdiUsbDriver::SetDtr(TUsbHandle handle) {
  return WithPort(handle, [](TPort& p) { return ftdi_setdtr(p.Ctx, 1); });
}

FT_STATUS TLibFtdiUsbDriver::ClrDtr(TUsbHandle handle) {
  return WithPort(handle, [](TPort& p) { return ftdi_setdtr(p.Ctx, 0); });
}

FT_STATUS TLibFtdiUsbDriver::SetRts(TUsbHandle handle) {
  return WithPort(handle, [](TPort& p) { return ftdi_setrts(p.Ctx, 1); });
}

FT_STATUS TLibFtdiUsbDriver::ClrRts(TUsbHandle handle) {
  return WithPort(handle, [](TPort& p) { return ftdi_setrts(p.Ctx, 0); });
}

FT_STATUS TLibFtdiUsbDriver::SetBreakOn(TUsbHandle handle) {
  return WithPort(handle,
                  [](TPort& p) { return ftdi_set_line_property2(p.Ctx, p.Bits, p.StopBits, p.Parity, BREAK_ON); });
}

FT_STATUS TLibFtdiUsbDriver::SetBreakOff(TUsbHandle handle) {
  return WithPort(handle,
                  [](TPort& p) { return ftdi_set_line_property2(p.Ctx, p.Bits, p.StopBits, p.Parity, BREAK_OFF); });
}

FT_STATUS TLibFtdiUsbDriver::SetEventNotification(TUsbHandle handle, uint32_t mask,
                                                  std::shared_ptr<TUsbEvent> event) {
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  port->Queue.SetEvent(mask, std::move(event));
  return FT_OK;
}

FT_STATUS TLibFtdiUsbDriver::GetQueueStatus(TUsbHandle handle, uint32_t& count) {
  count = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  return port->Queue.QueueStatus(count);
}

FT_STATUS TLibFtdiUsbDriver::Read(TUsbHandle handle, uint8_t* buffer, uint32_t count, uint32_t& bytesRead) {
  bytesRead = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  return port->Queue.Read(buffer, count, bytesRead);
}

FT_STATUS TLibFtdiUsbDriver::Write(TUsbHandle handle, const uint8_t* data, uint32_t count,
                                   uint32_t& bytesWritten) {
  bytesWritten = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  if (port->Queue.IsLost()) return FT_IO_ERROR;
  std::lock_guard lock(port->CtxMutex);
  const int n = ftdi_write_data(port->Ctx, data, static_cast<int>(count));
  if (n < 0) return FT_IO_ERROR;
  bytesWritten = static_cast<uint32_t>(n);
  return FT_OK;
}

}  // namespace OrlaqLidar
