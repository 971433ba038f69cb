#pragma once
// One USB device of the virtual instrument, seen from the wire: bytes come
// in, answers go out, each with the moment it is ready. The socket side
// (TSimDeviceServer) feeds it from one thread only.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace OrlaqLidar {

class TSimDevice {
 public:
  struct TAnswer {
    std::string Bytes;   // exactly what goes on the wire
    uint64_t DueUs = 0;  // monotonic microseconds at which it may be sent
    bool Binary = false; // lidar binary answer form
  };

  TSimDevice(std::string description, std::string serialNumber)
      : description_(std::move(description)), serialNumber_(std::move(serialNumber)) {}
  virtual ~TSimDevice() = default;
  TSimDevice(const TSimDevice&) = delete;
  TSimDevice& operator=(const TSimDevice&) = delete;

  // Consumes received bytes; appends the answers they call for.
  virtual void Receive(const uint8_t* data, size_t length, uint64_t nowUs, std::vector<TAnswer>& answers) = 0;
  // A new connection: partial input is forgotten (the instrument itself
  // keeps its state, laser included).
  virtual void Reset() = 0;
  // The wire form of a payload, as this device would send it.
  virtual std::string Frame(std::string_view payload, bool binary) const = 0;
  // Damages an answer the way a line glitch would, detectably.
  virtual void Corrupt(TAnswer& answer) const = 0;

  const std::string& Description() const { return description_; }
  const std::string& SerialNumber() const { return serialNumber_; }

  static uint64_t SteadyUs();

 private:
  std::string description_;
  std::string serialNumber_;
};

}  // namespace OrlaqLidar
