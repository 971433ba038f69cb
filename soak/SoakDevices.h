#pragma once
// The simulated instrument's devices behind the fake USB driver, in
// simulated time and without threads: what the program writes goes to the
// simulated board, whose answers are handed to the driver when they are
// due. Counts the records the boards deliver, and pulls cables.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Platform/Clock.h"
#include "Platform/FakeUsbDriver.h"
#include "Platform/MainLoop.h"
#include "Simulator/SimInstrument.h"

namespace OrlaqLidar {

class TSoakDevices {
 public:
  // A whole record left a board: a shot, or the last measure of a
  // monitoring cycle.
  using TDeliveredEvent = std::function<void(int recordId)>;

  TSoakDevices(TSimInstrument& sim, TFakeUsbDriver& usb, TManualClock& clock, TMainLoop& loop);
  ~TSoakDevices();
  TSoakDevices(const TSoakDevices&) = delete;
  TSoakDevices& operator=(const TSoakDevices&) = delete;

  int Count() const { return static_cast<int>(devices_.size()); }
  // The fake driver's key of a simulator device.
  int Key(int device) const { return devices_.at(static_cast<size_t>(device)).Key; }
  void Unplug(int device);
  void Replug(int device);

  TDeliveredEvent OnDelivered;

 private:
  struct TDevice {
    int Key = 0;
    int RecordID = 0;
    bool Lidar = false;
    size_t ShotAnswerSize = 0;  // a shot's frame; anything else is text
    char LastMeasure = 0;       // command of a monitoring cycle's last measure
    uint64_t Generation = 0;    // answers of an earlier plug-in are dropped
  };
  void Written(int key, const std::vector<uint8_t>& bytes);
  void Schedule(size_t device, TSimDevice::TAnswer answer, bool endsRecord);

  TSimInstrument& sim_;
  TFakeUsbDriver& usb_;
  TManualClock& clock_;
  TMainLoop& loop_;
  std::vector<TDevice> devices_;
  // Answer timers set as the loop's timers outlive nothing: the ids still
  // pending are stopped on destruction.
  std::shared_ptr<std::vector<TMainLoop::TTimerId>> pending_ = std::make_shared<std::vector<TMainLoop::TTimerId>>();
};

}  // namespace OrlaqLidar
