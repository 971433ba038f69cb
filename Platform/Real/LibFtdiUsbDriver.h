#pragma once
// Real FTDI devices through libftdi. Each port of a multi-port chip is one
// device, as the vendor driver lists them (serial number and description
// carry the port letter). A pump thread per open device keeps reading so
// that the queue status and the receive event behave like the vendor's.
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/UsbDriver.h"

namespace OrlaqLidar {

class TLibFtdiUsbDriver : public TUsbDriver {
 public:
  TLibFtdiUsbDriver();
  ~TLibFtdiUsbDriver() override;

  FT_STATUS CreateDeviceInfoList(uint32_t& count) override;
  FT_STATUS GetDeviceInfoList(std::vector<TUsbDeviceInfo>& list, uint32_t& count) override;
  FT_STATUS Open(int index, TUsbHandle& handle) override;
  FT_STATUS OpenByLocation(uint32_t locId, TUsbHandle& handle) override;
  FT_STATUS Close(TUsbHandle handle) override;
  FT_STATUS ResetDevice(TUsbHandle handle) override;
  FT_STATUS Purge(TUsbHandle handle, uint32_t mask) override;
  FT_STATUS SetBaudRate(TUsbHandle handle, uint32_t baud) override;
  FT_STATUS SetDataCharacteristics(TUsbHandle handle, uint8_t wordLength, uint8_t stopBits,
                                   uint8_t parity) override;
  FT_STATUS SetFlowControl(TUsbHandle handle, uint16_t flow, uint8_t xon, uint8_t xoff) override;
  FT_STATUS SetDtr(TUsbHandle handle) override;
  FT_STATUS ClrDtr(TUsbHandle handle) override;
  FT_STATUS SetRts(TUsbHandle handle) override;
  FT_STATUS ClrRts(TUsbHandle handle) override;
  FT_STATUS SetBreakOn(TUsbHandle handle) override;
  FT_STATUS SetBreakOff(TUsbHandle handle) override;
  FT_STATUS SetEventNotification(TUsbHandle handle, uint32_t mask, std::shared_ptr<TUsbEvent> event) override;
  FT_STATUS GetQueueStatus(TUsbHandle handle, uint32_t& count) override;
  FT_STATUS Read(TUsbHandle handle, uint8_t* buffer, uint32_t count, uint32_t& bytesRead) override;
  FT_STATUS Write(TUsbHandle handle, const uint8_t* data, uint32_t count, uint32_t& bytesWritten) override;

 private:
  struct TEntry {
    TUsbDeviceInfo Info;
    int Bus = 0, Address = 0, Interface = 1;  // interface 1 = port A
  };
  struct TPort;

  FT_STATUS Enumerate(std::vector<TEntry>& entries);
  FT_STATUS OpenEntry(const TEntry& entry, TUsbHandle& handle);
  std::shared_ptr<TPort> PortOf(TUsbHandle handle);
  // Runs op on the device's context under its lock; a failure (< 0) is an I/O error.
  template <class Op>
  FT_STATUS WithPort(TUsbHandle handle, Op op);

  std::mutex mutex_;
  std::vector<TEntry> snapshot_;
  std::map<TUsbHandle, std::shared_ptr<TPort>> ports_;
  TUsbHandle nextHandle_ = 1;
};

}  // namespace OrlaqLidar
