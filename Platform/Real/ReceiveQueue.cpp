#include "Platform/Real/ReceiveQueue.h"

#include <algorithm>
#include <cstring>

namespace OrlaqLidar {

bool TReceiveQueue::HasRoom() const {
  std::lock_guard lock(mutex_);
  return SizeLocked() < limit_;
}

bool TReceiveQueue::WaitForRoom() {
  std::unique_lock lock(mutex_);
  room_.wait(lock, [this] { return stop_ || SizeLocked() < limit_; });
  return !stop_;
}

void TReceiveQueue::Push(const uint8_t* data, size_t count) {
  {
    std::lock_guard lock(mutex_);
    data_.insert(data_.end(), data, data + count);
  }
  Signal();
}

void TReceiveQueue::MarkLost() {
  {
    std::lock_guard lock(mutex_);
    lost_ = true;
  }
  Signal();
}

void TReceiveQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  room_.notify_all();
}

bool TReceiveQueue::IsLost() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

void TReceiveQueue::SetEvent(uint32_t mask, std::shared_ptr<TUsbEvent> event) {
  bool waiting;
  {
    std::lock_guard lock(mutex_);
    event_ = (mask & FT_EVENT_RXCHAR) ? std::move(event) : nullptr;
    waiting = SizeLocked() > 0 || lost_;
  }
  if (waiting) Signal();
}

FT_STATUS TReceiveQueue::QueueStatus(uint32_t& count) const {
  std::lock_guard lock(mutex_);
  count = 0;
  if (lost_) return FT_IO_ERROR;
  count = static_cast<uint32_t>(SizeLocked());
  return FT_OK;
}

FT_STATUS TReceiveQueue::Read(uint8_t* buffer, uint32_t count, uint32_t& bytesRead) {
  bytesRead = 0;
  {
    std::lock_guard lock(mutex_);
    if (lost_) return FT_IO_ERROR;
    const size_t n = std::min<size_t>(count, SizeLocked());
    if (n > 0) std::memcpy(buffer, data_.data() + head_, n);
    head_ += n;
    // Drop what was read without moving the rest byte by byte at every read.
    if (head_ == data_.size()) {
      data_.clear();
      head_ = 0;
    } else if (head_ > data_.size() / 2) {
      data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    bytesRead = static_cast<uint32_t>(n);
  }
  room_.notify_all();
  return FT_OK;
}

void TReceiveQueue::Clear() {
  {
    std::lock_guard lock(mutex_);
    data_.clear();
    head_ = 0;
  }
  room_.notify_all();
}

void TReceiveQueue::Signal() {
  std::shared_ptr<TUsbEvent> event;
  {
    std::lock_guard lock(mutex_);
    event = event_;
  }
  if (event) event->Signal();
}

}  // namespace OrlaqLidar
