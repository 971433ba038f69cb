#include "Platform/Real/VirtualUsbDriver.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <thread>

#include "Common/FileUtils.h"
#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Platform/Real/ReceiveQueue.h"

namespace OrlaqLidar {

namespace {
// Bytes held for the program before the socket is no longer read, so that
// a device that floods the link is slowed down rather than eating memory.
constexpr size_t ReceiveLimit = 4 * 1024 * 1024;
constexpr size_t ChunkSize = 16384;

bool IsDeviceSection(const std::string& name) {
  if (name.size() <= 6 || !StartsWithText(name, "Device")) return false;
  return std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}
}  // namespace

// One connected device: the socket, and the bytes received from it that the
// program has not read yet, filled by a pump thread.
struct TVirtualUsbDriver::TPort {
  int Fd = -1;
  std::string Socket;
  TReceiveQueue Queue{ReceiveLimit};
  std::mutex WriteMutex;  // sending and the descriptor's lifetime
  std::thread Pump;

  void Run() {
    std::vector<uint8_t> buf(ChunkSize);
    while (Queue.WaitForRoom()) {
      const ssize_t n = ::recv(Fd, buf.data(), buf.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Queue.MarkLost();  // the device closed its side, or the socket failed
        return;
      }
      Queue.Push(buf.data(), static_cast<size_t>(n));
    }
  }

  void Shutdown() {
    Queue.Stop();
    ::shutdown(Fd, SHUT_RDWR);  // wakes a pending recv or send
    if (Pump.joinable()) Pump.join();
    std::lock_guard lock(WriteMutex);
    ::close(Fd);
    Fd = -1;
  }
};

TVirtualUsbDriver::TVirtualUsbDriver(std::string devicesFile) : devicesFile_(std::move(devicesFile)) {}

TVirtualUsbDriver::~TVirtualUsbDriver() {
  std::map<TUsbHandle, std::shared_ptr<TPort>> ports;
  {
    std::lock_guard lock(mutex_);
    ports.swap(ports_);
  }
  for (auto& [handle, port] : ports) port->Shutdown();
}

std::vector<TVirtualUsbDriver::TEntry> TVirtualUsbDriver::ReadDevices() const {
  // Reading the file is cheap; parsing it is what must not happen again.
  const std::optional<std::string> text = ReadTextFile(devicesFile_);
  std::lock_guard lock(fileMutex_);
  if (text && parsedText_ && *text == *parsedText_) return parsed_;
  std::vector<TEntry> list;
  TIniFile ini;
  if (text) ini.LoadFromText(*text);
  for (const std::string& section : ini.ReadSections()) {
    if (!IsDeviceSection(section)) continue;
    TEntry e;
    e.Description = ini.ReadString(section, "Description", "");
    e.SerialNumber = ini.ReadString(section, "SerialNumber", "");
    e.Socket = ini.ReadString(section, "Socket", "");
    e.Type = static_cast<uint32_t>(ini.ReadInteger(section, "Type", static_cast<int>(FT_DEVICE_232R)));
    const auto loc = TryParseInt64(ini.ReadString(section, "LocationId", "0"));
    e.LocId = loc ? static_cast<uint32_t>(*loc) : 0;
    list.push_back(std::move(e));
  }
  parsed_ = list;
  parsedText_ = text;
  return list;
}

FT_STATUS TVirtualUsbDriver::CreateDeviceInfoList(uint32_t& count) {
  auto list = ReadDevices();
  std::lock_guard lock(mutex_);
  snapshot_ = std::move(list);
  count = static_cast<uint32_t>(snapshot_.size());
  return FT_OK;
}

FT_STATUS TVirtualUsbDriver::GetDeviceInfoList(std::vector<TUsbDeviceInfo>& list, uint32_t& count) {
  std::lock_guard lock(mutex_);
  const size_t n = std::min<size_t>(count, snapshot_.size());
  list.assign(n, TUsbDeviceInfo{});
  std::map<std::string, TUsbHandle> opened;
  for (const auto& [handle, port] : ports_) opened[port->Socket] = handle;
  for (size_t i = 0; i < n; ++i) {
    const TEntry& e = snapshot_[i];
    TUsbDeviceInfo& info = list[i];
    info.Type = e.Type;
    info.ID = 0x04036001;
    info.LocId = e.LocId;
    info.SerialNumber = e.SerialNumber.substr(0, 15);
    info.Description = e.Description.substr(0, 63);
    if (const auto it = opened.find(e.Socket); it != opened.end()) {
      info.Flags = FT_FLAGS_OPENED;
      info.Handle = it->second;
    }
  }
  count = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS TVirtualUsbDriver::Open(int index, TUsbHandle& handle) {
  handle = UsbNoHandle;
  TEntry entry;
  {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= snapshot_.size()) return FT_DEVICE_NOT_FOUND;
    entry = snapshot_[static_cast<size_t>(index)];
  }
  return Connect(entry, handle);
}

FT_STATUS TVirtualUsbDriver::OpenByLocation(uint32_t locId, TUsbHandle& handle) {
  handle = UsbNoHandle;
  for (const TEntry& e : ReadDevices())
    if (e.LocId == locId) return Connect(e, handle);
  return FT_DEVICE_NOT_FOUND;
}

FT_STATUS TVirtualUsbDriver::Connect(const TEntry& entry, TUsbHandle& handle) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (entry.Socket.empty() || entry.Socket.size() >= sizeof(addr.sun_path)) return FT_DEVICE_NOT_FOUND;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [h, port] : ports_)
      if (port->Socket == entry.Socket) return FT_DEVICE_NOT_OPENED;  // one program, one open
  }
  std::memcpy(addr.sun_path, entry.Socket.data(), entry.Socket.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return FT_INSUFFICIENT_RESOURCES;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return FT_DEVICE_NOT_FOUND;
  }
  auto port = std::make_shared<TPort>();
  port->Fd = fd;
  port->Socket = entry.Socket;
  port->Pump = std::thread([p = port.get()] { p->Run(); });
  std::lock_guard lock(mutex_);
  handle = nextHandle_++;
  ports_[handle] = std::move(port);
  return FT_OK;
}

FT_STATUS TVirtualUsbDriver::Close(TUsbHandle handle) {
  std::shared_ptr<TPort> port;
  {
    std::lock_guard lock(mutex_);
    auto it = ports_.find(handle);
    if (it == ports_.end()) return FT_INVALID_HANDLE;
    port = std::move(it->second);
    ports_.erase(it);
  }
  port->Shutdown();
  return FT_OK;
}

std::shared_ptr<TVirtualUsbDriver::TPort> TVirtualUsbDriver::PortOf(TUsbHandle handle) {
  std::lock_guard lock(mutex_);
  auto it = ports_.find(handle);
  return it == ports_.end() ? nullptr : it->second;
}

FT_STATUS TVirtualUsbDriver::Check(TUsbHandle handle) {
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  return port->Queue.IsLost() ? FT_IO_ERROR : FT_OK;
}

FT_STATUS TVirtualUsbDriver::ResetDevice(TUsbHandle handle) { return Check(handle); }

FT_STATUS TVirtualUsbDriver::Purge(TUsbHandle handle, uint32_t mask) {
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  if (port->Queue.IsLost()) return FT_IO_ERROR;
  if (mask & FT_PURGE_RX) port->Queue.Clear();
  return FT_OK;
}

FT_STATUS TVirtualUsbDriver::SetBaudRate(TUsbHandle handle, uint32_t) { return Check(handle); }

FT_STATUS TVirtualUsbDriver::SetDataCharacteristics(TUsbHandle handle, uint8_t, uint8_t, uint8_t) {
  return Check(handle);
}

FT_STATUS TVirtualUsbDriver::SetFlowControl(TUsbHandle handle, uint16_t, uint8_t, uint8_t) {
  return Check(handle);
}

FT_STATUS TVirtualUsbDriver::SetDtr(TUsbHandle handle) { return Check(handle); }
FT_STATUS TVirtualUsbDriver::ClrDtr(TUsbHandle handle) { return Check(handle); }
FT_STATUS TVirtualUsbDriver::SetRts(TUsbHandle handle) { return Check(handle); }
FT_STATUS TVirtualUsbDriver::ClrRts(TUsbHandle handle) { return Check(handle); }
FT_STATUS TVirtualUsbDriver::SetBreakOn(TUsbHandle handle) { return Check(handle); }
FT_STATUS TVirtualUsbDriver::SetBreakOff(TUsbHandle handle) { return Check(handle); }

FT_STATUS TVirtualUsbDriver::SetEventNotification(TUsbHandle handle, uint32_t mask,
                                                  std::shared_ptr<TUsbEvent> event) {
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  port->Queue.SetEvent(mask, std::move(event));
  return FT_OK;
}

FT_STATUS TVirtualUsbDriver::GetQueueStatus(TUsbHandle handle, uint32_t& count) {
  count = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  return port->Queue.QueueStatus(count);
}

FT_STATUS TVirtualUsbDriver::Read(TUsbHandle handle, uint8_t* buffer, uint32_t count, uint32_t& bytesRead) {
  bytesRead = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  return port->Queue.Read(buffer, count, bytesRead);
}

FT_STATUS TVirtualUsbDriver::Write(TUsbHandle handle, const uint8_t* data, uint32_t count,
                                   uint32_t& bytesWritten) {
  bytesWritten = 0;
  auto port = PortOf(handle);
  if (!port) return FT_INVALID_HANDLE;
  if (port->Queue.IsLost()) return FT_IO_ERROR;
  std::lock_guard lock(port->WriteMutex);
  if (port->Fd < 0) return FT_INVALID_HANDLE;
  while (bytesWritten < count) {
    const ssize_t n = ::send(port->Fd, data + bytesWritten, count - bytesWritten, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FT_IO_ERROR;
    bytesWritten += static_cast<uint32_t>(n);
  }
  return FT_OK;
}

}  // namespace OrlaqLidar
