#pragma once
// What a device has sent and the program has not read yet: filled by a
// backend's pump thread, drained by the reader thread, which the device's
// event wakes. Once the device is lost every read reports an I/O error.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "Platform/UsbDriver.h"
#include "Platform/UsbEvent.h"

namespace OrlaqLidar {

class TReceiveQueue {
 public:
  // Beyond limit bytes the pump waits: a device that floods the link is
  // slowed down rather than eating memory.
  explicit TReceiveQueue(size_t limit) : limit_(limit) {}

  // Pump side.
  bool HasRoom() const;
  // Waits for room; false once Stop was called.
  bool WaitForRoom();
  void Push(const uint8_t* data, size_t count);
  void MarkLost();
  void Stop();

  // Driver side.
  bool IsLost() const;
  // Bytes that came before the notification was set still wake the reader.
  void SetEvent(uint32_t mask, std::shared_ptr<TUsbEvent> event);
  FT_STATUS QueueStatus(uint32_t& count) const;
  FT_STATUS Read(uint8_t* buffer, uint32_t count, uint32_t& bytesRead);
  void Clear();

 private:
  void Signal();
  size_t SizeLocked() const { return data_.size() - head_; }

  mutable std::mutex mutex_;
  std::condition_variable room_;
  std::vector<uint8_t> data_;
  size_t head_ = 0;  // bytes before it were read already
  size_t limit_;
  bool lost_ = false;
  bool stop_ = false;
  std::shared_ptr<TUsbEvent> event_;
};

}  // namespace OrlaqLidar
