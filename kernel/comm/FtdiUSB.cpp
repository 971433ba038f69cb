#include "kernel/comm/FtdiUSB.h"

#include <algorithm>
#include <regex>

#include "Platform/Services.h"
#include "Platform/UsbDriver.h"
#include "kernel/comm/FtdiUSBThread.h"
#include "kernel/LidarError.h"

namespace OrlaqLidar {

TFtdiUSB::TFtdiUSB() : alive_(std::make_shared<char>(0)) {}

TFtdiUSB::~TFtdiUSB() {
  destroying_ = true;
  Close();
  alive_.reset();
}

void TFtdiUSB::SetBufferSize(int size) {
  if (size >= MinBufferSize && size <= MaxBufferSize) bufferSize_ = size;
}

int TFtdiUSB::AvailableBytes() const { return thread_ ? thread_->Available() : 0; }

uint64_t TFtdiUSB::TotalRead() const { return thread_ ? thread_->TotalRead() : 0; }

bool TFtdiUSB::Open(int baud, int dataBits, int stopBits, int parity, int flow) {
  return OpenThread(true, baud, dataBits, stopBits, parity, flow);
}

bool TFtdiUSB::Open() { return OpenThread(false, 0, 0, 0, 0, 0); }

bool TFtdiUSB::OpenThread(bool withParameters, int baud, int dataBits, int stopBits, int parity, int flow) {
  if (GetConnected()) return true;
  TUsbDriver* driver = Services().Usb;
  auto thread = std::make_unique<TFtdiUSBThread>(driver, DeviceDescription, DeviceBySN, bufferSize_);
  if (thread->Error() != 0) {
    lastError_ = thread->Error();
    thread.reset();
    throw ELidarError(FtdiErrorStr(lastError_));
  }
  lastError_ = 0;
  thread_ = std::move(thread);
  serialNumber_ = thread_->SerialNumber();
  fullName_ = thread_->Description();

  TMainLoop* loop = Services().Loop;
  std::weak_ptr<char> alive = alive_;
  auto wake = [loop, alive, this] {
    if (!loop) return;
    loop->Post([alive, this] {
      if (!alive.expired()) WakeUp();
    });
  };
  const bool threaded = !driver->Deterministic();
  thread_->Start(wake, threaded);
  if (!threaded && loop) {
    TFtdiUSBThread* reader = thread_.get();
    readerLoop_ = loop;
    const TUsbDriver::TInlineReading reading = driver->InlineReading();
    readerTimer_ = loop->StartTimer(std::max(1, reading.PeriodMs), [reader] { reader->Cycle(0); });
    if (reading.OnSignal) {
      // Reads queued for a reader closed meanwhile do nothing.
      readerAlive_ = std::make_shared<char>(0);
      std::weak_ptr<char> readerAlive = readerAlive_;
      reader->SetSignalHandler([loop, readerAlive, reader] {
        loop->Post([readerAlive, reader] {
          if (!readerAlive.expired()) reader->Cycle(0);
        });
      });
    }
  }
  if (withParameters) {
    ChangeRSParameters(baud, dataBits, stopBits, parity, flow);
    ChangeOutLine(LineRts | LineDtr, 0);
  }
  return GetConnected();
}

void TFtdiUSB::Close() {
  if (!thread_) return;
  if (readerTimer_ != 0) {
    readerLoop_->StopTimer(readerTimer_);
    readerTimer_ = 0;
    readerLoop_ = nullptr;
  }
  readerAlive_.reset();
  lastError_ = thread_->WaitFor();
  thread_.reset();
  serialNumber_.clear();
  fullName_.clear();
  if (!destroying_ && OnDisconnect) OnDisconnect(this);
}

bool TFtdiUSB::GetConnected() {
  if (thread_ && (thread_->Error() != 0 || thread_->Finished())) Close();
  return thread_ != nullptr;
}

void TFtdiUSB::WakeUp() {
  if (!GetConnected()) return;
  const int waiting = AvailableBytes();
  if (waiting > 0 && OnReceiveData) OnReceiveData(this, waiting);
}

int TFtdiUSB::Read(uint8_t* buffer, int count) {
  if (!GetConnected() || AvailableBytes() <= 0 || !CheckReady(ReadyTimeOutMs)) return 0;
  return thread_->ReadRing(buffer, count);
}

int TFtdiUSB::Write(const uint8_t* data, int count) {
  if (!data || count <= 0 || !GetConnected() || !CheckReady(ReadyTimeOutMs)) return 0;
  uint32_t written = 0;
  const FT_STATUS st =
      thread_->Driver()->Write(thread_->Handle(), data, static_cast<uint32_t>(count), written);
  return st == FT_OK && written == static_cast<uint32_t>(count) ? count : 0;
}

bool TFtdiUSB::Purge() {
  if (!GetConnected() || !CheckReady(ReadyTimeOutMs)) return false;
  return thread_->PurgeAll();
}

void TFtdiUSB::SetBreak(bool on) {
  if (thread_ && !thread_->Terminated() && thread_->Error() == 0) thread_->RequestBreak(on);
}

void TFtdiUSB::ChangeOutLine(int set, int clear) {
  if (thread_ && !thread_->Terminated() && thread_->Error() == 0) thread_->RequestOutLines(set, clear);
}

int TFtdiUSB::GetOutLine() const { return thread_ ? thread_->OutLines() : 0; }

void TFtdiUSB::ChangeRSParameters(int baud, int dataBits, int stopBits, int parity, int flow) {
  if (GetConnected() && !thread_->Terminated() && thread_->Error() == 0)
    thread_->RequestSerialParameters(baud, dataBits, stopBits, parity, flow);
}

bool TFtdiUSB::CheckReady(int ms) {
  if (!thread_) return false;
  if (thread_->WaitReady(ms)) return true;
  thread_->SetError(ErrNotReady);
  return false;
}

void TFtdiUSB::GetFtdiErrorStr(std::string& text, int code) {
  switch (code >= 0 ? code / 100 : -1) {
    case 1: text = "USB device count error "; break;
    case 2: text = "USB device list error "; break;
    case 3: text = "USB device open error "; break;
    case 4: text = "USB queue stat error "; break;
    case 5: text = "USB device read error "; break;
    case 6: text = "no Orlaq USB device "; break;
    case 7: text = "USB device not found "; break;
    case 8: text = "USB device not ready "; break;
    default: text = "USB Error "; break;
  }
  static const char* const statusTexts[] = {"",
                                            "Invalide Handle",
                                            "Device not found",
                                            "Device not opened",
                                            "IO error",
                                            "Insuficient resources",
                                            "Invalid parameter",
                                            "Invalid baud rate",
                                            "Device not opened for erase",
                                            "Device not opened for write",
                                            "Failde to write device"};
  const int status = code % 100;
  if (status >= 0 && status <= 10)
    text += statusTexts[status];
  else if (status == 16)
    text += "Invalid arguments";
  else if (status == 17)
    text += "Not Supported";
  else if (status == 18)
    text += "Error";
  else
    text += "Error " + std::to_string(code);
}

std::string TFtdiUSB::FtdiErrorStr(int code) {
  std::string text;
  GetFtdiErrorStr(text, code);
  return text;
}

TFtdiUSB::TUSBDeviceList TFtdiUSB::GetFTDIList(const std::string& descriptionPattern,
                                               const std::string& serialPattern) {
  TUSBDeviceList result;
  TUsbDriver* driver = Services().Usb;
  if (!driver) return result;
  // The patterns come from the user; one that is no valid expression
  // matches nothing rather than failing the caller.
  std::regex descRe, snRe;
  try {
    if (!descriptionPattern.empty()) descRe.assign("^" + descriptionPattern + "$");
    if (!serialPattern.empty()) snRe.assign("^" + serialPattern + "$");
  } catch (const std::regex_error&) {
    return result;
  }
  uint32_t count = 0;
  if (driver->CreateDeviceInfoList(count) != FT_OK || count == 0) return result;
  std::vector<TUsbDeviceInfo> list;
  if (driver->GetDeviceInfoList(list, count) != FT_OK) return result;
  for (size_t i = 0; i < list.size() && i < count; ++i) {
    const TUsbDeviceInfo& info = list[i];
    if (!descriptionPattern.empty() && !std::regex_match(info.Description, descRe)) continue;
    if (!serialPattern.empty() && !std::regex_match(info.SerialNumber, snRe)) continue;
    sUSBDevice d;
    d.Description = info.Description.empty() ? "Unknown Descr." : info.Description;
    d.SerialNumber = info.SerialNumber.empty() ? "Unknown SN" : info.SerialNumber;
    d.Opened = (info.Flags & FT_FLAGS_OPENED) != 0;
    d.Type = info.Type;
    d.ID = info.ID;
    d.LocId = info.LocId;
    result.push_back(std::move(d));
  }
  return result;
}

}  // namespace OrlaqLidar
