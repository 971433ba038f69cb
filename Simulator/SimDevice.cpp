#include "Simulator/SimDevice.h"

#include <chrono>

namespace OrlaqLidar {

uint64_t TSimDevice::SteadyUs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace OrlaqLidar
