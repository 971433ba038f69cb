#pragma once
// The reader of one open USB device: opens the device when built, then moves
// every received byte into its ring buffer and wakes the main thread. Serial
// settings and line changes are requests the reader carries out between reads.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Platform/UsbDriver.h"

namespace OrlaqLidar {

class TFtdiUSBThread {
 public:
  // Searches and opens the device; a failure leaves Error() set and no handle.
  TFtdiUSBThread(TUsbDriver* driver, const std::string& description, const std::string& serial, int bufferSize);
  ~TFtdiUSBThread();
  TFtdiUSBThread(const TFtdiUSBThread&) = delete;
  TFtdiUSBThread& operator=(const TFtdiUSBThread&) = delete;

  // Starts reading: on a thread of its own, or (inline) only resets and
  // purges the device and leaves the reading to Cycle calls. wake is posted
  // after every read and once at the end.
  void Start(std::function<void()> wake, bool threaded);
  // One pass of the read loop, waiting at most waitMs for the receive event.
  void Cycle(int waitMs);
  // Called whenever the receive event is signalled (inline readers).
  void SetSignalHandler(std::function<void()> fn);
  void Terminate();
  // Ends the thread and returns its result (the error, 0 if none).
  int WaitFor();

  int Error() const { return error_.load(); }
  void SetError(int code);
  bool Ready() const { return ready_.load(); }
  bool Finished() const { return finished_.load(); }
  bool Terminated() const { return terminated_.load(); }
  bool WaitReady(int ms);

  // Ring buffer, main-thread side.
  int Available() const;
  int ReadRing(uint8_t* buffer, int count);
  // Empties the ring and the driver's buffers.
  bool PurgeAll();
  uint64_t TotalRead() const { return totalRead_.load(); }

  // Requests, from the main thread; each waits until the reader took it.
  void RequestSerialParameters(int baud, int dataBits, int stopBits, int parity, int flow);
  void RequestOutLines(int set, int clear);
  void RequestBreak(bool on);
  int OutLines() const { return lines_.load(); }

  TUsbDriver* Driver() const { return driver_; }
  TUsbHandle Handle() const { return handle_; }
  int BufferSize() const { return static_cast<int>(ring_.size()); }
  const std::string& Description() const { return description_; }
  const std::string& SerialNumber() const { return serialNumber_; }

 private:
  void OpenDevice(const std::string& description, const std::string& serial);
  void Run();
  void Begin();
  void Finish();
  void DoRequests();
  void ReadWaiting();
  void WaitRequestTaken();
  void WakeWaiters();
  void Post();

  TUsbDriver* driver_;
  TUsbHandle handle_ = UsbNoHandle;
  std::shared_ptr<TUsbEvent> event_;
  std::string description_;
  std::string serialNumber_;

  mutable std::mutex ringLock_;
  std::vector<uint8_t> ring_;
  int readPos_ = 0;
  int writePos_ = 0;
  std::atomic<uint64_t> totalRead_{0};

  std::atomic<int> error_{0};
  std::atomic<bool> ready_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> terminated_{false};
  bool queueFailed_ = false;  // reader side: the last queue query failed

  // Requests and their hand-over.
  std::mutex requestLock_;
  std::condition_variable requestDone_;
  bool serialPending_ = false;
  int baud_ = 9600, dataBits_ = 8, stopBits_ = 1, parity_ = 0, flow_ = 0;
  bool linesPending_ = false;
  int linesSet_ = 0, linesClear_ = 0;
  std::atomic<int> lines_{3};
  bool breakPending_ = false;
  bool breakOn_ = false;

  std::function<void()> wake_;
  bool threaded_ = false;
  std::thread thread_;
};

}  // namespace OrlaqLidar
