#include "soak/SoakDevices.h"

#include <algorithm>

#include "Simulator/SimLidarDevice.h"
#include "Simulator/SimMonitorDevice.h"

namespace OrlaqLidar {

namespace {
// A binary answer frame: start marker, payload, end marker, two checksum digits.
constexpr size_t BinaryFrameOverhead = 10;
}  // namespace

TSoakDevices::TSoakDevices(TSimInstrument& sim, TFakeUsbDriver& usb, TManualClock& clock, TMainLoop& loop)
    : sim_(sim), usb_(usb), clock_(clock), loop_(loop) {
  for (int i = 0; i < sim_.DeviceCount(); ++i) {
    const TSimInstrument::TDeviceEntry& e = sim_.Entry(i);
    TDevice d;
    d.Key = usb_.AddDevice(e.Description, e.SerialNumber, static_cast<uint32_t>(e.Type), e.LocationId);
    d.RecordID = e.RecordID;
    d.Lidar = e.Lidar;
    if (auto* lidar = dynamic_cast<TSimLidarDevice*>(&sim_.Device(i))) d.ShotAnswerSize = lidar->ShotLength() + BinaryFrameOverhead;
    if (auto* monitor = dynamic_cast<TSimMonitorDevice*>(&sim_.Device(i))) {
      for (int index = 0; index < static_cast<int>(std::size(TSimMonitorDevice::Commands)); ++index)
        if (monitor->Description(index)) d.LastMeasure = TSimMonitorDevice::Commands[static_cast<size_t>(index)];
    }
    devices_.push_back(d);
  }
  usb_.OnWrite = [this](int key, const std::vector<uint8_t>& bytes) { Written(key, bytes); };
}

TSoakDevices::~TSoakDevices() {
  usb_.OnWrite = nullptr;
  for (TMainLoop::TTimerId id : *pending_) loop_.StopTimer(id);
}

void TSoakDevices::Unplug(int device) {
  TDevice& d = devices_.at(static_cast<size_t>(device));
  ++d.Generation;
  usb_.Unplug(d.Key);
}

void TSoakDevices::Replug(int device) {
  TDevice& d = devices_.at(static_cast<size_t>(device));
  ++d.Generation;
  // A new connection: the board forgets half-received commands, not its laser.
  sim_.Device(device).Reset();
  usb_.Replug(d.Key);
}

void TSoakDevices::Written(int key, const std::vector<uint8_t>& bytes) {
  const auto it = std::find_if(devices_.begin(), devices_.end(), [key](const TDevice& d) { return d.Key == key; });
  if (it == devices_.end() || bytes.empty()) return;
  const size_t device = static_cast<size_t>(it - devices_.begin());
  // The board consumes what it was sent: the driver's copy would only grow.
  usb_.ClearWritten(key);
  std::vector<TSimDevice::TAnswer> answers;
  sim_.Device(static_cast<int>(device)).Receive(bytes.data(), bytes.size(), clock_.TickMs() * 1000, answers);
  // The monitoring board answers one measure per command.
  const bool cycleEnd = !it->Lidar && it->LastMeasure != 0 && static_cast<char>(bytes.back()) == it->LastMeasure;
  for (auto& answer : answers) {
    const bool record = it->Lidar ? answer.Binary && answer.Bytes.size() == it->ShotAnswerSize : cycleEnd;
    Schedule(device, std::move(answer), record);
  }
}

void TSoakDevices::Schedule(size_t device, TSimDevice::TAnswer answer, bool endsRecord) {
  const uint64_t nowUs = clock_.TickMs() * 1000;
  const uint64_t delayMs = answer.DueUs > nowUs ? (answer.DueUs - nowUs + 999) / 1000 : 0;
  const uint64_t generation = devices_[device].Generation;
  auto id = std::make_shared<TMainLoop::TTimerId>(0);
  auto pending = pending_;
  // A one-shot timer: the loop fires it when the answer is due.
  *id = loop_.StartTimer(static_cast<int>(std::max<uint64_t>(delayMs, 1)),
                         [this, device, generation, id, pending, bytes = std::move(answer.Bytes), endsRecord] {
                           loop_.StopTimer(*id);
                           pending->erase(std::find(pending->begin(), pending->end(), *id));
                           const TDevice& d = devices_[device];
                           // Unplugged meanwhile, or not opened again yet: the answer is lost.
                           if (d.Generation != generation || !usb_.IsOpen(d.Key)) return;
                           usb_.Inject(d.Key, std::vector<uint8_t>(bytes.begin(), bytes.end()));
                           if (endsRecord && OnDelivered) OnDelivered(d.RecordID);
                         });
  pending_->push_back(*id);
}

}  // namespace OrlaqLidar
