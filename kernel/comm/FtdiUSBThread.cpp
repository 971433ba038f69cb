#include "kernel/comm/FtdiUSBThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Common/StringUtils.h"
#include "kernel/comm/FtdiUSB.h"

namespace OrlaqLidar {

namespace {

constexpr int SearchAttempts = 3;
constexpr int EventWaitMs = 200;
constexpr int RequestPollMs = 10;

bool IsMultiPort(uint32_t type) {
  return type == FT_DEVICE_2232C || type == FT_DEVICE_2232H || type == FT_DEVICE_4232H;
}

// The serial number without the port letter of a multi-port chip.
std::string PlainSerial(const TUsbDeviceInfo& info) {
  std::string sn = info.SerialNumber;
  if (IsMultiPort(info.Type) && !sn.empty()) sn.pop_back();
  return sn;
}

bool ContainsText(const std::string& text, const std::string& part) {
  return part.empty() || UpperCase(text).find(UpperCase(part)) != std::string::npos;
}

int ErrorOf(int hundreds, FT_STATUS status) { return hundreds + static_cast<int>(status); }

}  // namespace

TFtdiUSBThread::TFtdiUSBThread(TUsbDriver* driver, const std::string& description, const std::string& serial,
                               int bufferSize)
    : driver_(driver) {
  if (!driver_) {
    // No USB backend installed: nothing can be counted.
    error_ = ErrorOf(TFtdiUSB::ErrDeviceCount, FT_NOT_SUPPORTED);
    return;
  }
  OpenDevice(description, serial);
  if (error_ != 0) return;
  // A fresh start for the device before the ring exists; its result does
  // not matter, the reader resets again when it starts.
  driver_->ResetDevice(handle_);
  ring_.assign(static_cast<size_t>(bufferSize), 0);
  event_ = std::make_shared<TUsbEvent>();
  driver_->SetEventNotification(handle_, FT_EVENT_RXCHAR, event_);
}

void TFtdiUSBThread::OpenDevice(const std::string& description, const std::string& serial) {
  FT_STATUS st = FT_OK;
  TUsbHandle handle = UsbNoHandle;
  if (description.empty() && serial.empty()) {
    st = driver_->Open(0, handle);
  } else {
    for (int attempt = 0; attempt < SearchAttempts && handle == UsbNoHandle; ++attempt) {
      uint32_t count = 0;
      st = driver_->CreateDeviceInfoList(count);
      if (st != FT_OK) {
        error_ = ErrorOf(TFtdiUSB::ErrDeviceCount, st);
        return;
      }
      if (count == 0) {
        error_ = TFtdiUSB::ErrNoDevice;
        return;
      }
      std::vector<TUsbDeviceInfo> list;
      st = driver_->GetDeviceInfoList(list, count);
      if (st != FT_OK) {
        error_ = ErrorOf(TFtdiUSB::ErrDeviceList, st);
        return;
      }
      count = std::min<uint32_t>(count, static_cast<uint32_t>(list.size()));
      int taken = -1;
      for (uint32_t i = 0; i < count; ++i) {
        const TUsbDeviceInfo& info = list[i];
        const std::string sn = PlainSerial(info);
        if (!ContainsText(info.Description, description) || !ContainsText(sn, serial)) continue;
        if (info.Flags & FT_FLAGS_OPENED) continue;
        taken = static_cast<int>(i);
        description_ = info.Description;
        serialNumber_ = sn;
        break;
      }
      if (taken < 0) {
        error_ = TFtdiUSB::ErrNotFound;
        return;
      }
      const TUsbDeviceInfo& chosen = list[static_cast<size_t>(taken)];
      if (chosen.LocId != 0) {
        st = driver_->OpenByLocation(chosen.LocId, handle);
        break;
      }
      st = driver_->Open(taken, handle);
      if (st != FT_OK || handle == UsbNoHandle) break;
      // An index may have moved to another device since the listing: the
      // device at that index must now be the one chosen, and opened.
      uint32_t again = 0;
      std::vector<TUsbDeviceInfo> confirm;
      bool confirmed = driver_->CreateDeviceInfoList(again) == FT_OK &&
                       driver_->GetDeviceInfoList(confirm, again) == FT_OK &&
                       static_cast<uint32_t>(taken) < std::min<uint32_t>(again, confirm.size());
      if (confirmed) {
        const TUsbDeviceInfo& now = confirm[static_cast<size_t>(taken)];
        confirmed = now.Description == chosen.Description && now.SerialNumber == chosen.SerialNumber;
      }
      if (!confirmed) {
        driver_->Close(handle);
        handle = UsbNoHandle;
        st = FT_DEVICE_NOT_OPENED;
      }
    }
  }
  if (st != FT_OK || handle == UsbNoHandle) {
    if (handle != UsbNoHandle) driver_->Close(handle);
    error_ = ErrorOf(TFtdiUSB::ErrDeviceOpen, st == FT_OK ? FT_INVALID_HANDLE : st);
    return;
  }
  handle_ = handle;
  if (description.empty() && serial.empty()) {
    // Opened blindly by index: learn what it is from the list, if it is there.
    uint32_t count = 0;
    std::vector<TUsbDeviceInfo> list;
    if (driver_->CreateDeviceInfoList(count) == FT_OK && count > 0 &&
        driver_->GetDeviceInfoList(list, count) == FT_OK && !list.empty()) {
      description_ = list[0].Description;
      serialNumber_ = PlainSerial(list[0]);
    }
  }
}

TFtdiUSBThread::~TFtdiUSBThread() {
  Terminate();
  if (thread_.joinable()) thread_.join();
  if (driver_ && handle_ != UsbNoHandle) {
    driver_->SetEventNotification(handle_, 0, nullptr);
    driver_->Close(handle_);
  }
}

void TFtdiUSBThread::Start(std::function<void()> wake, bool threaded) {
  wake_ = std::move(wake);
  threaded_ = threaded;
  if (threaded_) {
    thread_ = std::thread([this] { Run(); });
  } else {
    Begin();
  }
}

void TFtdiUSBThread::Run() {
  Begin();
  while (!terminated_ && error_ == 0) Cycle(EventWaitMs);
  Finish();
}

void TFtdiUSBThread::Begin() {
  driver_->ResetDevice(handle_);
  driver_->Purge(handle_, FT_PURGE_RX | FT_PURGE_TX);
  ready_ = true;
  WakeWaiters();
}

void TFtdiUSBThread::Finish() {
  finished_ = true;
  WakeWaiters();
  Post();
}

void TFtdiUSBThread::Cycle(int waitMs) {
  if (finished_) return;
  if (terminated_ || error_ != 0) {
    // Inline readers end here; threaded ones leave their loop.
    if (!threaded_) Finish();
    return;
  }
  DoRequests();
  if (waitMs > 0) event_->Wait(waitMs);
  ReadWaiting();
  if (!threaded_ && error_ != 0) Finish();
}

void TFtdiUSBThread::SetSignalHandler(std::function<void()> fn) {
  if (event_) event_->SetOnSignal(std::move(fn));
}

void TFtdiUSBThread::DoRequests() {
  std::lock_guard lock(requestLock_);
  if (serialPending_) {
    driver_->Purge(handle_, FT_PURGE_RX | FT_PURGE_TX);
    driver_->SetBaudRate(handle_, static_cast<uint32_t>(baud_));
    driver_->SetDataCharacteristics(handle_, dataBits_ == 7 ? FT_BITS_7 : FT_BITS_8,
                                    stopBits_ == 2 ? FT_STOP_BITS_2 : FT_STOP_BITS_1,
                                    static_cast<uint8_t>(std::clamp(parity_, 0, 4)));
    static const uint16_t flows[] = {FT_FLOW_NONE, FT_FLOW_RTS_CTS, FT_FLOW_DTR_DSR, FT_FLOW_XON_XOFF};
    driver_->SetFlowControl(handle_, flows[std::clamp(flow_, 0, 3)], 0x11, 0x13);
    serialPending_ = false;
  }
  if (linesPending_) {
    if (linesSet_ & TFtdiUSB::LineDtr) driver_->SetDtr(handle_);
    if (linesSet_ & TFtdiUSB::LineRts) driver_->SetRts(handle_);
    if (linesClear_ & TFtdiUSB::LineDtr) driver_->ClrDtr(handle_);
    if (linesClear_ & TFtdiUSB::LineRts) driver_->ClrRts(handle_);
    lines_ = (lines_ | linesSet_) & ~linesClear_;
    linesPending_ = false;
  }
  if (breakPending_) {
    if (breakOn_)
      driver_->SetBreakOn(handle_);
    else
      driver_->SetBreakOff(handle_);
    breakPending_ = false;
  }
  requestDone_.notify_all();
}

void TFtdiUSBThread::ReadWaiting() {
  uint32_t waiting = 0;
  const FT_STATUS st = driver_->GetQueueStatus(handle_, waiting);
  if (st != FT_OK) {
    // One failure may be a hiccup of the device: reset it and look again.
    // Two in a row mean the device is gone.
    if (queueFailed_) {
      SetError(ErrorOf(TFtdiUSB::ErrQueueStatus, st));
      return;
    }
    queueFailed_ = true;
    driver_->ResetDevice(handle_);
    return;
  }
  queueFailed_ = false;
  if (waiting == 0) return;
  {
    std::lock_guard lock(ringLock_);
    const int size = static_cast<int>(ring_.size());
    const int used = (writePos_ - readPos_ + size) % size;
    // One byte stays free so that a full ring is never taken for an empty one.
    const int room = size - 1 - used;
    int n = static_cast<int>(std::min<uint32_t>(waiting, static_cast<uint32_t>(std::max(room, 0))));
    while (n > 0) {
      const int chunk = std::min(n, size - writePos_);
      uint32_t got = 0;
      const FT_STATUS rs = driver_->Read(handle_, ring_.data() + writePos_, static_cast<uint32_t>(chunk), got);
      if (rs != FT_OK) {
        SetError(ErrorOf(TFtdiUSB::ErrDeviceRead, rs));
        break;
      }
      got = std::min<uint32_t>(got, static_cast<uint32_t>(chunk));
      writePos_ += static_cast<int>(got);
      if (writePos_ >= size) writePos_ = 0;
      totalRead_ += got;
      n -= static_cast<int>(got);
      if (static_cast<int>(got) < chunk) break;  // the driver had less than it said
    }
  }
  if (error_ == 0) Post();
}

void TFtdiUSBThread::Post() {
  if (wake_) wake_();
}

void TFtdiUSBThread::Terminate() {
  terminated_ = true;
  if (event_) event_->Signal();
  WakeWaiters();
}

int TFtdiUSBThread::WaitFor() {
  Terminate();
  if (thread_.joinable()) thread_.join();
  finished_ = true;
  return error_;
}

void TFtdiUSBThread::SetError(int code) {
  int expected = 0;
  // The first error is the cause; later ones are consequences.
  error_.compare_exchange_strong(expected, code);
  if (event_) event_->Signal();
  WakeWaiters();
}

void TFtdiUSBThread::WakeWaiters() {
  // Taking the lock orders the flag change before any waiter's next check.
  { std::lock_guard lock(requestLock_); }
  requestDone_.notify_all();
}

bool TFtdiUSBThread::WaitReady(int ms) {
  if (ready_) return true;
  std::unique_lock lock(requestLock_);
  requestDone_.wait_for(lock, std::chrono::milliseconds(ms),
                        [this] { return ready_ || finished_ || terminated_ || error_ != 0; });
  return ready_;
}

int TFtdiUSBThread::Available() const {
  std::lock_guard lock(ringLock_);
  if (ring_.empty()) return 0;
  const int size = static_cast<int>(ring_.size());
  return (writePos_ - readPos_ + size) % size;
}

int TFtdiUSBThread::ReadRing(uint8_t* buffer, int count) {
  if (!buffer || count <= 0) return 0;
  std::lock_guard lock(ringLock_);
  if (ring_.empty()) return 0;
  const int size = static_cast<int>(ring_.size());
  const int waiting = (writePos_ - readPos_ + size) % size;
  const int n = std::min(waiting, count);
  const int first = std::min(n, size - readPos_);
  std::memcpy(buffer, ring_.data() + readPos_, static_cast<size_t>(first));
  if (n > first) std::memcpy(buffer + first, ring_.data(), static_cast<size_t>(n - first));
  readPos_ = (readPos_ + n) % size;
  return n;
}

bool TFtdiUSBThread::PurgeAll() {
  std::lock_guard lock(ringLock_);
  readPos_ = 0;
  writePos_ = 0;
  return driver_->Purge(handle_, FT_PURGE_RX | FT_PURGE_TX) == FT_OK;
}

void TFtdiUSBThread::WaitRequestTaken() {
  // Caller holds no lock. Inline readers carry the request out at once.
  if (!threaded_) {
    if (!terminated_ && error_ == 0 && !finished_) DoRequests();
    return;
  }
  std::unique_lock lock(requestLock_);
  while ((serialPending_ || linesPending_ || breakPending_) && !terminated_ && error_ == 0 && !finished_) {
    event_->Signal();
    requestDone_.wait_for(lock, std::chrono::milliseconds(RequestPollMs));
  }
}

void TFtdiUSBThread::RequestSerialParameters(int baud, int dataBits, int stopBits, int parity, int flow) {
  WaitRequestTaken();
  {
    std::lock_guard lock(requestLock_);
    baud_ = baud;
    dataBits_ = dataBits;
    stopBits_ = stopBits;
    parity_ = parity;
    flow_ = flow;
    serialPending_ = true;
  }
  WaitRequestTaken();
}

void TFtdiUSBThread::RequestOutLines(int set, int clear) {
  WaitRequestTaken();
  {
    std::lock_guard lock(requestLock_);
    linesSet_ = set;
    linesClear_ = clear;
    linesPending_ = true;
  }
  WaitRequestTaken();
}

void TFtdiUSBThread::RequestBreak(bool on) {
  WaitRequestTaken();
  {
    std::lock_guard lock(requestLock_);
    breakOn_ = on;
    breakPending_ = true;
  }
  WaitRequestTaken();
}

}  // namespace OrlaqLidar
