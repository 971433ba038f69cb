#pragma once
// In-process USB driver for tests: the test plugs and unplugs devices,
// injects the bytes a device sends and looks at what the program wrote.
// Deterministic by default (read from the main loop in simulated time);
// SetThreaded(true) lets real reader threads drive it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/UsbDriver.h"

namespace OrlaqLidar {

class TFakeUsbDriver : public TUsbDriver {
 public:
  // What the program last set on a device, and how often it was reset/purged.
  struct TLineState {
    uint32_t Baud = 0;
    uint8_t WordLength = 0;
    uint8_t StopBits = 0;
    uint8_t Parity = 0;
    uint16_t Flow = 0;
    uint8_t Xon = 0;
    uint8_t Xoff = 0;
    bool Dtr = false;
    bool Rts = false;
    bool Break = false;
    int Resets = 0;
    int Purges = 0;
    int Opens = 0;
  };
  // Called (outside the driver's lock) with the bytes of every write; may
  // inject an answer.
  using TWriteHook = std::function<void(int device, const std::vector<uint8_t>& bytes)>;

  // Adds a device at the end of the list and returns its key. locId < 0
  // gives a unique non-zero location; 0 makes it openable by index only.
  int AddDevice(const std::string& description, const std::string& serial, uint32_t type = FT_DEVICE_232R,
                int64_t locId = -1);
  // Pulls the device out: it leaves the list and its open handle fails with
  // an I/O error from now on.
  void Unplug(int device);
  // Plugs it in again: listed and openable as before, while a handle from
  // before the unplug stays dead.
  void Replug(int device);
  // Marks a device as opened by some other program.
  void SetOpenedElsewhere(int device, bool opened);
  void Inject(int device, const std::vector<uint8_t>& bytes);
  void Inject(int device, std::string_view bytes);
  std::vector<uint8_t> Written(int device) const;
  std::string WrittenText(int device) const;
  void ClearWritten(int device);
  size_t Pending(int device) const;  // injected bytes not read yet
  bool IsOpen(int device) const;
  TLineState State(int device) const;

  // Failure injection.
  void FailDeviceCount(FT_STATUS status) { failCount_ = status; }
  void FailDeviceList(FT_STATUS status) { failList_ = status; }
  void FailOpen(FT_STATUS status) { failOpen_ = status; }
  // Writes accept at most this many bytes (negative: no limit).
  void LimitWrites(int bytes) { writeLimit_ = bytes; }
  // The next times queue-status queries fail with an I/O error.
  void FailQueueStatus(int times) { failQueue_ = times; }

  void SetThreaded(bool threaded) { threaded_ = threaded; }
  // Long simulated runs read on arrival and poll seldom instead of every ms.
  void SetInlineReading(TInlineReading reading) { inlineReading_ = reading; }
  TInlineReading InlineReading() const override { return inlineReading_; }
  TWriteHook OnWrite;

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
  bool Deterministic() const override { return !threaded_; }

 private:
  struct TDevice {
    std::string Description, SerialNumber;
    uint32_t Type = FT_DEVICE_232R;
    uint32_t LocId = 0;
    bool Plugged = true;
    bool OpenedElsewhere = false;
    TUsbHandle Handle = UsbNoHandle;
    std::vector<uint8_t> Rx;  // sent by the device, not read yet
    std::vector<uint8_t> Tx;  // written by the program
    std::shared_ptr<TUsbEvent> Event;
    TLineState State;
  };
  FT_STATUS OpenDevice(int device, TUsbHandle& handle);
  // Runs fn on the device behind a live handle, under the lock.
  template <class Fn>
  FT_STATUS WithDevice(TUsbHandle handle, Fn fn);
  // The device behind a live handle, or null with the status to return.
  TDevice* DeviceOf(TUsbHandle handle, FT_STATUS& status);
  TDevice& At(int device);
  const TDevice& At(int device) const;

  mutable std::mutex mutex_;
  std::map<int, TDevice> devices_;  // key order is list order
  std::vector<int> snapshot_;
  std::map<TUsbHandle, int> handles_;
  std::map<TUsbHandle, int> deadHandles_;  // opened before an unplug, not closed yet
  int nextKey_ = 1;
  TUsbHandle nextHandle_ = 1;
  uint32_t nextLoc_ = 0x1011;
  FT_STATUS failCount_ = FT_OK;
  FT_STATUS failList_ = FT_OK;
  FT_STATUS failOpen_ = FT_OK;
  int writeLimit_ = -1;
  int failQueue_ = 0;
  bool threaded_ = false;
  TInlineReading inlineReading_;
};

}  // namespace OrlaqLidar
