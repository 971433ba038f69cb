#include "Platform/FakeUsbDriver.h"

#include <algorithm>
#include <stdexcept>

namespace OrlaqLidar {

TFakeUsbDriver::TDevice& TFakeUsbDriver::At(int device) {
  auto it = devices_.find(device);
  if (it == devices_.end()) throw std::out_of_range("no fake USB device " + std::to_string(device));
  return it->second;
}

const TFakeUsbDriver::TDevice& TFakeUsbDriver::At(int device) const {
  auto it = devices_.find(device);
  if (it == devices_.end()) throw std::out_of_range("no fake USB device " + std::to_string(device));
  return it->second;
}

int TFakeUsbDriver::AddDevice(const std::string& description, const std::string& serial, uint32_t type, int64_t locId) {
  std::lock_guard lock(mutex_);
  TDevice d;
  d.Description = description;
  d.SerialNumber = serial;
  d.Type = type;
  d.LocId = locId < 0 ? nextLoc_++ : static_cast<uint32_t>(locId);
  const int key = nextKey_++;
  devices_[key] = std::move(d);
  return key;
}

void TFakeUsbDriver::Unplug(int device) {
  std::shared_ptr<TUsbEvent> event;
  {
    std::lock_guard lock(mutex_);
    TDevice& d = At(device);
    d.Plugged = false;
    d.Rx.clear();
    event = d.Event;
  }
  if (event) event->Signal();
}

void TFakeUsbDriver::Replug(int device) {
  std::lock_guard lock(mutex_);
  TDevice& d = At(device);
  if (d.Plugged) return;
  if (d.Handle != UsbNoHandle) {
    handles_.erase(d.Handle);
    deadHandles_[d.Handle] = device;
    d.Handle = UsbNoHandle;
    d.Event.reset();
  }
  d.Rx.clear();
  d.Plugged = true;
}

void TFakeUsbDriver::SetOpenedElsewhere(int device, bool opened) {
  std::lock_guard lock(mutex_);
  At(device).OpenedElsewhere = opened;
}

void TFakeUsbDriver::Inject(int device, const std::vector<uint8_t>& bytes) {
  std::shared_ptr<TUsbEvent> event;
  {
    std::lock_guard lock(mutex_);
    TDevice& d = At(device);
    if (!d.Plugged) return;
    d.Rx.insert(d.Rx.end(), bytes.begin(), bytes.end());
    event = d.Event;
  }
  if (event) event->Signal();
}

void TFakeUsbDriver::Inject(int device, std::string_view bytes) {
  Inject(device, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> TFakeUsbDriver::Written(int device) const {
  std::lock_guard lock(mutex_);
  return At(device).Tx;
}

std::string TFakeUsbDriver::WrittenText(int device) const {
  const auto bytes = Written(device);
  return std::string(bytes.begin(), bytes.end());
}

void TFakeUsbDriver::ClearWritten(int device) {
  std::lock_guard lock(mutex_);
  At(device).Tx.clear();
}

size_t TFakeUsbDriver::Pending(int device) const {
  std::lock_guard lock(mutex_);
  return At(device).Rx.size();
}

bool TFakeUsbDriver::IsOpen(int device) const {
  std::lock_guard lock(mutex_);
  return At(device).Handle != UsbNoHandle;
}

TFakeUsbDriver::TLineState TFakeUsbDriver::State(int device) const {
  std::lock_guard lock(mutex_);
  return At(device).State;
}

FT_STATUS TFakeUsbDriver::CreateDeviceInfoList(uint32_t& count) {
  std::lock_guard lock(mutex_);
  count = 0;
  if (failCount_ != FT_OK) return failCount_;
  snapshot_.clear();
  for (const auto& [key, d] : devices_)
    if (d.Plugged) snapshot_.push_back(key);
  count = static_cast<uint32_t>(snapshot_.size());
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::GetDeviceInfoList(std::vector<TUsbDeviceInfo>& list, uint32_t& count) {
  std::lock_guard lock(mutex_);
  if (failList_ != FT_OK) return failList_;
  const size_t n = std::min<size_t>(count, snapshot_.size());
  list.assign(n, TUsbDeviceInfo{});
  for (size_t i = 0; i < n; ++i) {
    const TDevice& d = devices_.at(snapshot_[i]);
    TUsbDeviceInfo& info = list[i];
    info.Flags = (d.Handle != UsbNoHandle || d.OpenedElsewhere) ? FT_FLAGS_OPENED : 0;
    info.Type = d.Type;
    info.ID = 0x04036001;
    info.LocId = d.LocId;
    info.SerialNumber = d.SerialNumber.substr(0, 15);
    info.Description = d.Description.substr(0, 63);
    info.Handle = d.Handle;
  }
  count = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::OpenDevice(int device, TUsbHandle& handle) {
  TDevice& d = At(device);
  if (!d.Plugged) return FT_DEVICE_NOT_FOUND;
  if (d.Handle != UsbNoHandle || d.OpenedElsewhere) return FT_DEVICE_NOT_OPENED;
  handle = nextHandle_++;
  d.Handle = handle;
  d.Rx.clear();
  d.State.Opens++;
  handles_[handle] = device;
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::Open(int index, TUsbHandle& handle) {
  std::lock_guard lock(mutex_);
  handle = UsbNoHandle;
  if (failOpen_ != FT_OK) return failOpen_;
  if (index < 0 || static_cast<size_t>(index) >= snapshot_.size()) return FT_DEVICE_NOT_FOUND;
  return OpenDevice(snapshot_[static_cast<size_t>(index)], handle);
}

FT_STATUS TFakeUsbDriver::OpenByLocation(uint32_t locId, TUsbHandle& handle) {
  std::lock_guard lock(mutex_);
  handle = UsbNoHandle;
  if (failOpen_ != FT_OK) return failOpen_;
  for (auto& [key, d] : devices_)
    if (d.Plugged && d.LocId == locId) return OpenDevice(key, handle);
  return FT_DEVICE_NOT_FOUND;
}

FT_STATUS TFakeUsbDriver::Close(TUsbHandle handle) {
  std::lock_guard lock(mutex_);
  if (deadHandles_.erase(handle)) return FT_OK;
  auto it = handles_.find(handle);
  if (it == handles_.end()) return FT_INVALID_HANDLE;
  TDevice& d = At(it->second);
  d.Handle = UsbNoHandle;
  d.Event.reset();
  handles_.erase(it);
  return FT_OK;
}

TFakeUsbDriver::TDevice* TFakeUsbDriver::DeviceOf(TUsbHandle handle, FT_STATUS& status) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    status = deadHandles_.count(handle) ? FT_IO_ERROR : FT_INVALID_HANDLE;
    return nullptr;
  }
  TDevice& d = At(it->second);
  if (!d.Plugged) {
    status = FT_IO_ERROR;
    return nullptr;
  }
  status = FT_OK;
  return &d;
}

template <class Fn>
FT_STATUS TFakeUsbDriver::WithDevice(TUsbHandle handle, Fn fn) {
  std::lock_guard lock(mutex_);
  FT_STATUS st;
  if (TDevice* d = DeviceOf(handle, st)) fn(*d);
  return st;
}

FT_STATUS TFakeUsbDriver::ResetDevice(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Resets++; });
}

FT_STATUS TFakeUsbDriver::Purge(TUsbHandle handle, uint32_t mask) {
  return WithDevice(handle, [&](TDevice& d) {
    d.State.Purges++;
    if (mask & FT_PURGE_RX) d.Rx.clear();
  });
}

FT_STATUS TFakeUsbDriver::SetBaudRate(TUsbHandle handle, uint32_t baud) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Baud = baud; });
}

FT_STATUS TFakeUsbDriver::SetDataCharacteristics(TUsbHandle handle, uint8_t wordLength, uint8_t stopBits,
                                                 uint8_t parity) {
  return WithDevice(handle, [&](TDevice& d) {
    d.State.WordLength = wordLength;
    d.State.StopBits = stopBits;
    d.State.Parity = parity;
  });
}

FT_STATUS TFakeUsbDriver::SetFlowControl(TUsbHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) {
  return WithDevice(handle, [&](TDevice& d) {
    d.State.Flow = flow;
    d.State.Xon = xon;
    d.State.Xoff = xoff;
  });
}

FT_STATUS TFakeUsbDriver::SetDtr(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Dtr = true; });
}

FT_STATUS TFakeUsbDriver::ClrDtr(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Dtr = false; });
}

FT_STATUS TFakeUsbDriver::SetRts(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Rts = true; });
}

FT_STATUS TFakeUsbDriver::ClrRts(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Rts = false; });
}

FT_STATUS TFakeUsbDriver::SetBreakOn(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Break = true; });
}

FT_STATUS TFakeUsbDriver::SetBreakOff(TUsbHandle handle) {
  return WithDevice(handle, [&](TDevice& d) { d.State.Break = false; });
}

FT_STATUS TFakeUsbDriver::SetEventNotification(TUsbHandle handle, uint32_t mask, std::shared_ptr<TUsbEvent> event) {
  std::lock_guard lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) return FT_INVALID_HANDLE;
  At(it->second).Event = (mask & FT_EVENT_RXCHAR) ? std::move(event) : nullptr;
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::GetQueueStatus(TUsbHandle handle, uint32_t& count) {
  std::lock_guard lock(mutex_);
  count = 0;
  FT_STATUS st;
  TDevice* d = DeviceOf(handle, st);
  if (!d) return st;
  if (failQueue_ > 0) {
    --failQueue_;
    return FT_IO_ERROR;
  }
  count = static_cast<uint32_t>(d->Rx.size());
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::Read(TUsbHandle handle, uint8_t* buffer, uint32_t count, uint32_t& bytesRead) {
  std::lock_guard lock(mutex_);
  bytesRead = 0;
  FT_STATUS st;
  TDevice* d = DeviceOf(handle, st);
  if (!d) return st;
  const size_t n = std::min<size_t>(count, d->Rx.size());
  std::copy_n(d->Rx.begin(), n, buffer);
  d->Rx.erase(d->Rx.begin(), d->Rx.begin() + static_cast<std::ptrdiff_t>(n));
  bytesRead = static_cast<uint32_t>(n);
  return FT_OK;
}

FT_STATUS TFakeUsbDriver::Write(TUsbHandle handle, const uint8_t* data, uint32_t count, uint32_t& bytesWritten) {
  std::vector<uint8_t> bytes;
  int device = 0;
  {
    std::lock_guard lock(mutex_);
    bytesWritten = 0;
    FT_STATUS st;
    TDevice* d = DeviceOf(handle, st);
    if (!d) return st;
    uint32_t n = count;
    if (writeLimit_ >= 0) n = std::min<uint32_t>(n, static_cast<uint32_t>(writeLimit_));
    bytes.assign(data, data + n);
    d->Tx.insert(d->Tx.end(), bytes.begin(), bytes.end());
    bytesWritten = n;
    device = handles_.at(handle);
  }
  if (OnWrite) OnWrite(device, bytes);
  return FT_OK;
}

}  // namespace OrlaqLidar
