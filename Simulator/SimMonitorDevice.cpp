#include "Simulator/SimMonitorDevice.h"

#include <algorithm>
#include <cmath>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {
// The host's reassembly buffer holds a dozen bytes, line end included.
constexpr size_t MaxValueText = 10;
}  // namespace

TSimMonitorDevice::TSimMonitorDevice(const TChannelConfig& channel, const TSimOptions& options,
                                     std::string serialNumber, uint64_t seed)
    : TSimDevice(channel.USBDescriptor, std::move(serialNumber)),
      slotOfIndex_(std::size(Commands), -1),
      options_(options),
      rng_(seed) {
  uint64_t modelSeed = seed * 104729 + 3;
  for (const auto& d : channel.InfoDescriptions) {
    ++modelSeed;
    if (d->Index < 0 || d->Index >= static_cast<int>(std::size(Commands)) || d->Text.empty()) continue;
    if (slotOfIndex_[static_cast<size_t>(d->Index)] >= 0) continue;
    slotOfIndex_[static_cast<size_t>(d->Index)] = static_cast<int>(measures_.size());
    measures_.push_back({*d, TSimMeasureModel(*d, modelSeed, true, options_.LaserFrequencyHz)});
  }
}

TDateTime TSimMonitorDevice::Now() const { return options_.Now ? options_.Now() : SystemNowUTC(); }

const TSimMeasureModel* TSimMonitorDevice::Model(int commandIndex) const {
  if (commandIndex < 0 || commandIndex >= static_cast<int>(slotOfIndex_.size())) return nullptr;
  const int slot = slotOfIndex_[static_cast<size_t>(commandIndex)];
  return slot < 0 ? nullptr : &measures_[static_cast<size_t>(slot)].Model;
}

const TInfoDescription* TSimMonitorDevice::Description(int commandIndex) const {
  if (commandIndex < 0 || commandIndex >= static_cast<int>(slotOfIndex_.size())) return nullptr;
  const int slot = slotOfIndex_[static_cast<size_t>(commandIndex)];
  return slot < 0 ? nullptr : &measures_[static_cast<size_t>(slot)].Description;
}

std::string TSimMonitorDevice::MeasureText(int commandIndex, TDateTime t) {
  const TSimMeasureModel* model = Model(commandIndex);
  const TInfoDescription* d = Description(commandIndex);
  if (!model || !d) return NoMeasure;
  const double raw = TSimMeasureModel::RawFor(*d, model->Value(t, rng_));
  if (!std::isfinite(raw)) return NoMeasure;
  std::string text = FormatFixed(raw, 2);
  if (text.size() > MaxValueText) text = FormatFixed(raw, 0);
  if (text.size() > MaxValueText || text == NoMeasure) return NoMeasure;
  return text;
}

void TSimMonitorDevice::Reset() { lastDueUs_ = 0; }

std::string TSimMonitorDevice::Frame(std::string_view payload, bool) const {
  if (payload == "Q") return "Q";
  std::string f(payload);
  f += "\n\r";
  return f;
}

void TSimMonitorDevice::Corrupt(TAnswer& answer) const {
  std::string& b = answer.Bytes;
  if (b == "Q") {
    b = "q";
  } else if (b.size() >= 2) {
    // Line end in the wrong order: the host never sees the answer complete.
    b[b.size() - 2] = '\r';
    b[b.size() - 1] = '\n';
  }
}

uint64_t TSimMonitorDevice::Schedule(uint64_t dueUs) {
  dueUs = std::max(dueUs, lastDueUs_);
  lastDueUs_ = dueUs;
  return dueUs;
}

void TSimMonitorDevice::Receive(const uint8_t* data, size_t length, uint64_t nowUs, std::vector<TAnswer>& answers) {
  const uint64_t pingLatency = options_.RateLimit ? 1000 : 0;
  const uint64_t measureLatency =
      options_.RateLimit ? static_cast<uint64_t>(std::max(0, options_.MeasureLatencyMs)) * 1000 : 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == PingEnd) {
      answers.push_back({"Q", Schedule(nowUs + pingLatency), false});
      continue;
    }
    const char* hit = std::find(std::begin(Commands), std::end(Commands), c);
    if (hit == std::end(Commands)) continue;  // the rest of the ping, or noise
    const int index = static_cast<int>(hit - std::begin(Commands));
    answers.push_back({Frame(MeasureText(index, Now()), false), Schedule(nowUs + measureLatency), false});
  }
}

}  // namespace OrlaqLidar
