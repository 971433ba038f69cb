#include "kernel/processing/SpacialSampling.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "kernel/processing/GateLoop.h"

namespace OrlaqLidar {

namespace {

constexpr const char* ShotCode = "SHOOT";

// Big-endian counts of `width` bytes into doubles; the common widths get
// their own loop so that the compiler can vectorise them.
SKV_GATE_LOOP void Decode(const uint8_t* p, int width, int n, double* out) {
  switch (width) {
    case 2:
      for (int i = 0; i < n; ++i)
        out[i] = static_cast<double>(static_cast<uint32_t>(p[2 * i]) << 8 | static_cast<uint32_t>(p[2 * i + 1]));
      break;
    case 4:
      for (int i = 0; i < n; ++i) {
        const uint8_t* q = p + 4 * i;
        out[i] = static_cast<double>(static_cast<uint32_t>(q[0]) << 24 | static_cast<uint32_t>(q[1]) << 16 |
                                     static_cast<uint32_t>(q[2]) << 8 | static_cast<uint32_t>(q[3]));
      }
      break;
    default:
      for (int i = 0; i < n; ++i) {
        uint64_t v = 0;
        const uint8_t* q = p + static_cast<size_t>(width) * static_cast<size_t>(i);
        for (int b = 0; b < width; ++b) v = (v << 8) | q[b];
        out[i] = static_cast<double>(v);
      }
      break;
  }
}

SKV_GATE_LOOP void AddCounts(const double* signal, double* raw, int n) {
  for (int i = 0; i < n; ++i) raw[i] += signal[i];
}

}  // namespace

int TSpacialSampling::FindShotField(const TChannelConfig& channel) {
  for (size_t i = 0; i < channel.InfoDescriptions.size(); ++i)
    if (channel.InfoDescriptions[i] && channel.InfoDescriptions[i]->GetOption("CODE") == ShotCode)
      return static_cast<int>(i);
  return NoField;
}

double TSpacialSampling::LaserShotsOfRecord() {
  const TChannelConfig* channel = Shot->Channel();
  double value = 0;
  if (shotField_ == FieldUnknown) {
    if (Shot->FindByCode(ShotCode, value)) return value;
  } else if (shotField_ >= 0 && Shot->SeekInfo(shotField_)) {
    return Shot->GetValue();
  }
  return channel ? channel->LaserPulse : 0;
}

bool TSpacialSampling::Process(TManagedProfile* profile) {
  if (!Shot || !Shot->IsValid() || !Shot->Data() || !Shot->Channel()) return false;
  const double shots = LaserShotsOfRecord();
  // An unreadable or absurd counter weighs nothing rather than corrupting
  // the sums with an undefined conversion.
  profile->RecordShots = shots >= 0 ? static_cast<int>(std::min<double>(std::round(shots), INT_MAX)) : 0;

  const TChannelConfig& channel = *Shot->Channel();
  const int gates = GateCount(*profile);
  const int n = std::max(0, std::min({gates, channel.DoorsUsed, channel.DoorsCount}));
  double* signal = profile->Signal.data();
  profile->First();
  Shot->FirstDoor();
  if (profile->RecordShots == 0) {
    std::fill(signal, signal + n, 0.0);
  } else {
    Decode(Shot->Data(), channel.DoorsByte, n, signal);
    // Counts of a record that stands for no laser shot are not counted.
    AddCounts(signal, profile->RawCounts.data(), std::min(n, static_cast<int>(profile->RawCounts.size())));
  }
  // Gates the record does not have carry nothing.
  std::fill(signal + n, signal + gates, 0.0);
  return true;
}

}  // namespace OrlaqLidar
