#pragma once
// One FTDI USB device: finds and opens it through the USB driver
// (Services().Usb), reads it on a reader thread into a ring buffer and
// raises OnReceiveData on the main thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace OrlaqLidar {

class TFtdiUSBThread;
class TUsbDriver;
class TMainLoop;

class TFtdiUSB {
 public:
  // One attached device as GetFTDIList reports it.
  struct sUSBDevice {
    std::string Description;
    std::string SerialNumber;
    bool Opened = false;
    uint32_t Type = 0;
    uint32_t ID = 0;
    uint32_t LocId = 0;
  };
  using TUSBDeviceList = std::vector<sUSBDevice>;

  using TReceiveDataEvent = std::function<void(TFtdiUSB* sender, int inQueue)>;
  using TDisconnectEvent = std::function<void(TFtdiUSB* sender)>;

  // USB error codes: the hundreds name the failing step, the units carry the
  // driver status.
  static constexpr int ErrDeviceCount = 100;
  static constexpr int ErrDeviceList = 200;
  static constexpr int ErrDeviceOpen = 300;
  static constexpr int ErrQueueStatus = 400;
  static constexpr int ErrDeviceRead = 500;
  static constexpr int ErrNoDevice = 600;
  static constexpr int ErrNotFound = 700;
  static constexpr int ErrNotReady = 800;

  static constexpr int DefaultBufferSize = 65536;
  static constexpr int MinBufferSize = 1025;
  static constexpr int MaxBufferSize = 1048575;
  static constexpr int ReadyTimeOutMs = 2000;

  // Parity 0 none, 1 odd, 2 even, 3 mark, 4 space; flow 0 none, 1 RTS/CTS,
  // 2 DTR/DSR, 3 XON/XOFF. Output line bit 1 = RTS, bit 2 = DTR.
  static constexpr int LineRts = 1;
  static constexpr int LineDtr = 2;

  TFtdiUSB();
  ~TFtdiUSB();
  TFtdiUSB(const TFtdiUSB&) = delete;
  TFtdiUSB& operator=(const TFtdiUSB&) = delete;

  int BufferSize() const { return bufferSize_; }
  // Values outside MinBufferSize..MaxBufferSize are ignored; takes effect at
  // the next open.
  void SetBufferSize(int size);
  int AvailableBytes() const;
  bool Connected() { return GetConnected(); }

  // Throws ELidarError with the error text when the device cannot be opened.
  bool Open(int baud, int dataBits, int stopBits, int parity, int flow);
  bool Open();
  void Close();
  // Closes a reader that has failed or ended (raising OnDisconnect) first.
  bool GetConnected();

  int Read(uint8_t* buffer, int count);
  int Write(const uint8_t* data, int count);
  bool Purge();
  void SetBreak(bool on);
  void ChangeOutLine(int set, int clear);
  int GetOutLine() const;
  void ChangeRSParameters(int baud, int dataBits, int stopBits, int parity, int flow);
  bool CheckReady(int ms);

  const std::string& DeviceSerialNumber() const { return serialNumber_; }
  const std::string& DeviceFullname() const { return fullName_; }
  int LastError() const { return lastError_; }
  uint64_t TotalRead() const;

  static void GetFtdiErrorStr(std::string& text, int code);
  static std::string FtdiErrorStr(int code);
  // Devices whose description and serial number match the regular
  // expressions "^" + pattern + "$" (empty patterns match all).
  static TUSBDeviceList GetFTDIList(const std::string& descriptionPattern, const std::string& serialPattern);

  TReceiveDataEvent OnReceiveData;
  TDisconnectEvent OnDisconnect;
  std::string DeviceDescription;  // case-insensitive part of the USB description
  std::string DeviceBySN;         // case-insensitive part of the serial number; empty = any

 private:
  bool OpenThread(bool withParameters, int baud, int dataBits, int stopBits, int parity, int flow);
  void WakeUp();  // main thread: bytes waiting or the reader ended

  int bufferSize_ = DefaultBufferSize;
  int lastError_ = 0;
  bool destroying_ = false;
  std::string serialNumber_;
  std::string fullName_;
  std::unique_ptr<TFtdiUSBThread> thread_;
  // Deterministic drivers: the main loop timer that reads.
  TMainLoop* readerLoop_ = nullptr;
  int readerTimer_ = 0;
  std::shared_ptr<char> readerAlive_;  // while the inline reader may be woken
  // Posted wake-ups hold a weak reference: once this object is gone they do nothing.
  std::shared_ptr<char> alive_;
};

}  // namespace OrlaqLidar
