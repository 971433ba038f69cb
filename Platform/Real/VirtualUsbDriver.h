#pragma once
// USB devices reached over local sockets, for the simulator and for runs
// without hardware. A devices file lists them, one section per device
// ([Device0], [Device1], ...) with Description, SerialNumber, Type,
// LocationId and Socket (path of a Unix-domain stream socket on which the
// device listens). Opening a device connects to its socket; the bytes on
// the socket are the bytes of the USB link in both directions. Serial
// settings and line changes are accepted and ignored. The device closing
// its side is an unplugged device. The file is read again at a device
// listing whenever it changed, so devices come and go.
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Platform/UsbDriver.h"

namespace OrlaqLidar {

class TVirtualUsbDriver : public TUsbDriver {
 public:
  explicit TVirtualUsbDriver(std::string devicesFile);
  ~TVirtualUsbDriver() override;

  const std::string& DevicesFile() const { return devicesFile_; }

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
    std::string Description, SerialNumber, Socket;
    uint32_t Type = FT_DEVICE_232R;
    uint32_t LocId = 0;
  };
  struct TPort;

  std::vector<TEntry> ReadDevices() const;
  FT_STATUS Connect(const TEntry& entry, TUsbHandle& handle);
  std::shared_ptr<TPort> PortOf(TUsbHandle handle);
  // Status of a plain operation on a handle: invalid, device gone, or fine.
  FT_STATUS Check(TUsbHandle handle);

  std::string devicesFile_;
  std::mutex mutex_;
  std::vector<TEntry> snapshot_;
  // The devices file as last parsed: a listing per channel opened must not
  // parse it again, which made many-channel instruments never connect.
  mutable std::mutex fileMutex_;
  mutable std::vector<TEntry> parsed_;
  mutable std::optional<std::string> parsedText_;
  std::map<TUsbHandle, std::shared_ptr<TPort>> ports_;
  TUsbHandle nextHandle_ = 1;
};

}  // namespace OrlaqLidar
