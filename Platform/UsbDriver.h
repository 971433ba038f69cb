#pragma once
// The USB device driver the channels talk through: the operations of the
// FTDI vendor driver (D2XX) that the program uses, with its status codes.
// Services().Usb points to the backend chosen at start-up (real devices,
// virtual socket devices, or a test fake).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/UsbEvent.h"

namespace OrlaqLidar {

// D2XX status codes, with the vendor's numbering.
using FT_STATUS = uint32_t;
inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED_FOR_ERASE = 8;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED_FOR_WRITE = 9;
inline constexpr FT_STATUS FT_FAILED_TO_WRITE_DEVICE = 10;
inline constexpr FT_STATUS FT_EEPROM_READ_FAILED = 11;
inline constexpr FT_STATUS FT_EEPROM_WRITE_FAILED = 12;
inline constexpr FT_STATUS FT_EEPROM_ERASE_FAILED = 13;
inline constexpr FT_STATUS FT_EEPROM_NOT_PRESENT = 14;
inline constexpr FT_STATUS FT_EEPROM_NOT_PROGRAMMED = 15;
inline constexpr FT_STATUS FT_INVALID_ARGS = 16;
inline constexpr FT_STATUS FT_NOT_SUPPORTED = 17;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;
inline constexpr FT_STATUS FT_DEVICE_LIST_NOT_READY = 19;

// Chip types as the driver reports them; 4, 6 and 7 are the multi-port
// chips whose serial numbers end with a port letter.
inline constexpr uint32_t FT_DEVICE_BM = 0;
inline constexpr uint32_t FT_DEVICE_AM = 1;
inline constexpr uint32_t FT_DEVICE_100AX = 2;
inline constexpr uint32_t FT_DEVICE_UNKNOWN = 3;
inline constexpr uint32_t FT_DEVICE_2232C = 4;
inline constexpr uint32_t FT_DEVICE_232R = 5;
inline constexpr uint32_t FT_DEVICE_2232H = 6;
inline constexpr uint32_t FT_DEVICE_4232H = 7;
inline constexpr uint32_t FT_DEVICE_232H = 8;
inline constexpr uint32_t FT_DEVICE_X_SERIES = 9;

inline constexpr uint32_t FT_FLAGS_OPENED = 1;
inline constexpr uint32_t FT_OPEN_BY_LOCATION = 4;
inline constexpr uint32_t FT_PURGE_RX = 1;
inline constexpr uint32_t FT_PURGE_TX = 2;
inline constexpr uint32_t FT_EVENT_RXCHAR = 1;

inline constexpr uint8_t FT_BITS_8 = 8;
inline constexpr uint8_t FT_BITS_7 = 7;
inline constexpr uint8_t FT_STOP_BITS_1 = 0;
inline constexpr uint8_t FT_STOP_BITS_2 = 2;
inline constexpr uint8_t FT_PARITY_NONE = 0;
inline constexpr uint8_t FT_PARITY_ODD = 1;
inline constexpr uint8_t FT_PARITY_EVEN = 2;
inline constexpr uint8_t FT_PARITY_MARK = 3;
inline constexpr uint8_t FT_PARITY_SPACE = 4;

inline constexpr uint16_t FT_FLOW_NONE = 0x0000;
inline constexpr uint16_t FT_FLOW_RTS_CTS = 0x0100;
inline constexpr uint16_t FT_FLOW_DTR_DSR = 0x0200;
inline constexpr uint16_t FT_FLOW_XON_XOFF = 0x0400;

using TUsbHandle = std::intptr_t;
inline constexpr TUsbHandle UsbNoHandle = -1;

// One entry of the device information list.
struct TUsbDeviceInfo {
  uint32_t Flags = 0;  // FT_FLAGS_OPENED when some program has it open
  uint32_t Type = FT_DEVICE_UNKNOWN;
  uint32_t ID = 0;  // vendor id << 16 | product id
  uint32_t LocId = 0;
  std::string SerialNumber;  // at most 15 characters
  std::string Description;   // at most 63 characters
  TUsbHandle Handle = UsbNoHandle;
};

// Every operation may be called from the main thread and from the device's
// reader thread at the same time; backends make them safe for that.
class TUsbDriver {
 public:
  virtual ~TUsbDriver() = default;

  // Takes a snapshot of the attached devices; the list and the indexes of
  // Open refer to the last snapshot.
  virtual FT_STATUS CreateDeviceInfoList(uint32_t& count) = 0;
  // Fills list with the snapshot; count in: room wanted, out: entries given.
  virtual FT_STATUS GetDeviceInfoList(std::vector<TUsbDeviceInfo>& list, uint32_t& count) = 0;
  virtual FT_STATUS Open(int index, TUsbHandle& handle) = 0;
  // FT_OpenEx with FT_OPEN_BY_LOCATION.
  virtual FT_STATUS OpenByLocation(uint32_t locId, TUsbHandle& handle) = 0;
  virtual FT_STATUS Close(TUsbHandle handle) = 0;

  virtual FT_STATUS ResetDevice(TUsbHandle handle) = 0;
  virtual FT_STATUS Purge(TUsbHandle handle, uint32_t mask) = 0;
  virtual FT_STATUS SetBaudRate(TUsbHandle handle, uint32_t baud) = 0;
  virtual FT_STATUS SetDataCharacteristics(TUsbHandle handle, uint8_t wordLength, uint8_t stopBits,
                                           uint8_t parity) = 0;
  virtual FT_STATUS SetFlowControl(TUsbHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) = 0;
  virtual FT_STATUS SetDtr(TUsbHandle handle) = 0;
  virtual FT_STATUS ClrDtr(TUsbHandle handle) = 0;
  virtual FT_STATUS SetRts(TUsbHandle handle) = 0;
  virtual FT_STATUS ClrRts(TUsbHandle handle) = 0;
  virtual FT_STATUS SetBreakOn(TUsbHandle handle) = 0;
  virtual FT_STATUS SetBreakOff(TUsbHandle handle) = 0;

  // The event is signalled whenever characters arrive (mask FT_EVENT_RXCHAR)
  // and when the device is lost; a null event stops the notification.
  virtual FT_STATUS SetEventNotification(TUsbHandle handle, uint32_t mask,
                                         std::shared_ptr<TUsbEvent> event) = 0;
  // Bytes received and waiting in the driver; fails once the device is gone.
  virtual FT_STATUS GetQueueStatus(TUsbHandle handle, uint32_t& count) = 0;
  // Copies up to count waiting bytes; never waits for more.
  virtual FT_STATUS Read(TUsbHandle handle, uint8_t* buffer, uint32_t count, uint32_t& bytesRead) = 0;
  virtual FT_STATUS Write(TUsbHandle handle, const uint8_t* data, uint32_t count, uint32_t& bytesWritten) = 0;

  // A deterministic backend (the test fake) is read from the main loop's
  // timer in simulated time instead of from a reader thread.
  virtual bool Deterministic() const { return false; }
  // How that timer reads it: every PeriodMs and, with OnSignal, also as
  // soon as the backend signals arriving bytes or a lost device, the way a
  // reader thread wakes on its event.
  struct TInlineReading {
    int PeriodMs = 1;
    bool OnSignal = false;
  };
  virtual TInlineReading InlineReading() const { return {}; }
};

}  // namespace OrlaqLidar
