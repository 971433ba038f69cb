#include "Simulator/SimLidarDevice.h"

#include <algorithm>
#include <cmath>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {

constexpr char Stx = 0x02;
constexpr char Etx = 0x03;
constexpr char BinaryStart[] = {0x02, '\xFF', '\xFF', '\xFF'};
constexpr char BinaryEnd[] = {'\xFF', '\xFF', '\xFF', 0x03};
constexpr char HexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

uint8_t Xor(const char* p, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= static_cast<uint8_t>(p[i]);
  return x;
}

// Ends a frame that runs from the start marker to the end marker: the
// exclusive-or of all those bytes as two upper-case hex digits.
void AppendChecksum(std::string& frame) {
  const uint8_t x = Xor(frame.data(), frame.size());
  frame.push_back(HexDigits[x >> 4]);
  frame.push_back(HexDigits[x & 0x0F]);
}

bool BinaryCommand(std::string_view command) {
  if (command.empty()) return false;
  const char c = command[0];
  return c == 'A' || c == 'a' || c == 'B' || c == 'Q';
}

std::string Wavelength(double nm) {
  return std::to_string(static_cast<long long>(std::llround(nm)));
}

}  // namespace

TSimLidarDevice::TSimLidarDevice(const TChannelConfig& channel, std::shared_ptr<TSimLaser> laser,
                                 std::shared_ptr<const TSimAtmosphere> atmosphere, const TSimOptions& options,
                                 std::string serialNumber, uint64_t seed)
    : TSimDevice(channel.USBDescriptor, std::move(serialNumber)),
      doorsCount_(std::max(0, channel.DoorsCount)),
      doorsByte_(std::max(0, channel.DoorsByte)),
      infoBytes_(std::max(0, channel.InfoBytes)),
      hasLaserCmd_(channel.HasLaserCmd),
      laserPulse_(channel.LaserPulse),
      waveLength_(channel.WaveLength),
      doorsTime_(channel.DoorsTime),
      offsetTime_(channel.OffsetTime),
      polarization_(channel.Polarization),
      laser_(std::move(laser)),
      atmosphere_(std::move(atmosphere)),
      options_(options),
      rng_(seed) {
  uint64_t fieldSeed = seed * 7919 + 17;
  for (const auto& d : channel.InfoDescriptions) {
    TFieldKind kind = TFieldKind::Measure;
    const std::string code = d->GetOption("CODE");
    if (SameText(code, "SHOOT"))
      kind = TFieldKind::Shots;
    else if (SameText(code, "OVL") || UpperCase(d->Name).find("OVERLOAD") != std::string::npos)
      kind = TFieldKind::Overload;
    if (kind == TFieldKind::Shots) hasShotCounter_ = true;
    fields_.push_back({*d, TSimMeasureModel(*d, ++fieldSeed, false, options_.LaserFrequencyHz), kind});
  }
  const auto gates = static_cast<size_t>(doorsCount_);
  rates_.assign(gates, 0);
  means_.assign(gates, 0);
  expMinusMeans_.assign(gates, 1);
  sqrtMeans_.assign(gates, 0);
}

TDateTime TSimLidarDevice::Now() const { return options_.Now ? options_.Now() : SystemNowUTC(); }

// Board name (the instrument's serial number), a blank, the three-digit
// firmware number and a suffix naming the detection channel, the layout the
// recorded-file header takes apart.
std::string TSimLidarDevice::Version() const {
  const char channel = polarization_ == '/' ? 'P' : polarization_ == 'X' ? 'S' : 'U';
  return std::string(InstrumentSerial) + " 104" + Wavelength(waveLength_) + channel;
}

size_t TSimLidarDevice::ShotLength() const {
  return static_cast<size_t>(doorsCount_) * static_cast<size_t>(doorsByte_) + static_cast<size_t>(infoBytes_);
}

uint64_t TSimLidarDevice::NominalPulses() const {
  if (!hasShotCounter_) return static_cast<uint64_t>(std::max(0, laserPulse_));
  return static_cast<uint64_t>(std::llround(options_.LaserFrequencyHz * options_.ShotPeriodMs / 1000.0));
}

void TSimLidarDevice::Reset() {
  input_.clear();
  lastDueUs_ = 0;
}

std::string TSimLidarDevice::Frame(std::string_view payload, bool binary) const {
  std::string f;
  f.reserve(payload.size() + 10);
  if (binary)
    f.append(BinaryStart, sizeof BinaryStart);
  else
    f.push_back(Stx);
  f.append(payload);
  if (binary)
    f.append(BinaryEnd, sizeof BinaryEnd);
  else
    f.push_back(Etx);
  AppendChecksum(f);
  return f;
}

void TSimLidarDevice::Corrupt(TAnswer& answer) const {
  if (answer.Bytes.empty()) return;
  char& last = answer.Bytes.back();
  last = last == '0' ? '1' : '0';
}

void TSimLidarDevice::Receive(const uint8_t* data, size_t length, uint64_t nowUs, std::vector<TAnswer>& answers) {
  input_.append(reinterpret_cast<const char*>(data), length);
  size_t pos = 0;
  for (;;) {
    size_t stx = input_.find(Stx, pos);
    if (stx == std::string::npos) {
      // Line noise without a frame start.
      pos = input_.size();
      break;
    }
    size_t etx = std::string::npos;
    bool overlong = false;
    for (size_t i = stx + 1; i < input_.size(); ++i) {
      if (input_[i] == Stx) {
        stx = i;  // a new frame started: the earlier one was broken
      } else if (input_[i] == Etx) {
        etx = i;
        break;
      } else if (i - stx > MaxCommandLength) {
        overlong = true;
        pos = i;
        break;
      }
    }
    if (overlong) {
      ++badFrames_;
      continue;
    }
    if (etx == std::string::npos || etx + 2 >= input_.size()) {
      pos = stx;  // wait for the rest of the frame
      break;
    }
    const int hi = HexValue(input_[etx + 1]);
    const int lo = HexValue(input_[etx + 2]);
    const uint8_t sum = Xor(input_.data() + stx, etx - stx + 1);
    pos = etx + 3;
    if (hi < 0 || lo < 0 || sum != static_cast<uint8_t>(hi * 16 + lo)) {
      ++badFrames_;  // a real board ignores a damaged query; the host times out
      continue;
    }
    Execute(std::string_view(input_).substr(stx + 1, etx - stx - 1), nowUs, answers);
  }
  input_.erase(0, pos);
}

uint64_t TSimLidarDevice::Schedule(uint64_t dueUs) {
  // Answers leave in the order of their queries.
  dueUs = std::max(dueUs, lastDueUs_);
  lastDueUs_ = dueUs;
  return dueUs;
}

void TSimLidarDevice::AnswerText(std::string_view payload, bool binary, uint64_t nowUs,
                                 std::vector<TAnswer>& answers) {
  const uint64_t latency = options_.RateLimit ? static_cast<uint64_t>(options_.CommandLatencyMs) * 1000 : 0;
  answers.push_back({Frame(payload, binary), Schedule(nowUs + latency), binary});
}

void TSimLidarDevice::Execute(std::string_view command, uint64_t nowUs, std::vector<TAnswer>& answers) {
  laser_->Touch(nowUs);
  const bool binary = BinaryCommand(command);
  if (command.size() != 1) {
    AnswerText("eU", binary, nowUs, answers);
    return;
  }
  switch (command[0]) {
    case 'C':
      AnswerText(Version(), false, nowUs, answers);
      return;
    case 'I':
    case 'i':
      // The two laser-on letters belong to two board generations.
      if (hasLaserCmd_ != (command[0] == 'I' ? 1 : 2)) break;
      laser_->SwitchOn(nowUs);
      AnswerText("OK", false, nowUs, answers);
      return;
    case 'J':
      if (hasLaserCmd_ < 1) break;
      laser_->SwitchOff();
      AnswerText("OK", false, nowUs, answers);
      return;
    case 'L':
      if (hasLaserCmd_ != 2) break;
      AnswerText(laser_->IsOn(nowUs) ? "OK" : "NO", false, nowUs, answers);
      return;
    case 'A':
      if (hasLaserCmd_ >= 2) break;
      AnswerShot(nowUs, answers);
      return;
    case 'a':
      if (hasLaserCmd_ != 2) break;
      AnswerShot(nowUs, answers);
      return;
    case 'Q':
      AnswerShot(nowUs, answers);
      return;
    default:
      break;
  }
  AnswerText("eU", binary, nowUs, answers);
}

void TSimLidarDevice::AnswerShot(uint64_t nowUs, std::vector<TAnswer>& answers) {
  if (!laser_->IsOn(nowUs)) {
    AnswerText("KO", true, nowUs, answers);
    return;
  }
  uint64_t pulses = NominalPulses();
  uint64_t due = nowUs;
  if (options_.RateLimit) {
    // The board accumulates pulses from its previous shot (or from the
    // laser start) and needs one whole period before it can answer; a slow
    // host gets more pulses per shot, up to ten periods' worth.
    const uint64_t period = static_cast<uint64_t>(std::max(1, options_.ShotPeriodMs)) * 1000;
    const uint64_t latency = static_cast<uint64_t>(options_.CommandLatencyMs) * 1000;
    uint64_t start = std::max(lastShotUs_, laser_->OnSinceUs());
    if (start == 0) start = nowUs;  // a free-running laser and no shot yet
    due = std::max(nowUs + latency, start + period);
    const uint64_t accumulated = std::min(due - start, 10 * period);
    lastShotUs_ = due;
    if (hasShotCounter_)
      pulses = static_cast<uint64_t>(std::llround(options_.LaserFrequencyHz * static_cast<double>(accumulated) / 1e6));
  }
  TAnswer a;
  a.Binary = true;
  a.Bytes.reserve(ShotLength() + 10);
  a.Bytes.append(BinaryStart, sizeof BinaryStart);
  MakeShot(pulses, Now(), a.Bytes);
  a.Bytes.append(BinaryEnd, sizeof BinaryEnd);
  AppendChecksum(a.Bytes);
  a.DueUs = Schedule(due);
  answers.push_back(std::move(a));
}

void TSimLidarDevice::PrepareMeans(uint64_t pulses, TDateTime t) {
  if (!ratesValid_ || std::abs(t - ratesTime_) * SecondsPerDay >= 1.0) {
    atmosphere_->CountRates(waveLength_, polarization_, doorsTime_, offsetTime_, t, rates_);
    ratesTime_ = t;
    ratesValid_ = true;
    meansPulses_ = ~uint64_t{0};
  }
  if (pulses == meansPulses_) return;
  meansPulses_ = pulses;
  const double exposure = static_cast<double>(pulses) * doorsTime_;
  for (size_t i = 0; i < rates_.size(); ++i) {
    const double m = rates_[i] * exposure;
    means_[i] = m;
    expMinusMeans_[i] = m < TSimRandom::ExactPoissonLimit ? std::exp(-m) : 0.0;
    sqrtMeans_[i] = std::sqrt(m);
  }
}

void TSimLidarDevice::MakeShot(uint64_t pulses, TDateTime t, std::string& out) {
  PrepareMeans(pulses, t);
  const size_t start = out.size();
  out.resize(start + ShotLength());
  auto* p = reinterpret_cast<uint8_t*>(out.data() + start);
  const uint64_t maxCount = doorsByte_ >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * doorsByte_)) - 1;
  bool overload = false;
  const auto gates = static_cast<size_t>(doorsCount_);
  for (size_t i = 0; i < gates; ++i) {
    uint64_t k = rng_.Poisson(means_[i], expMinusMeans_[i], sqrtMeans_[i]);
    if (k > maxCount) {
      k = maxCount;  // the counter saturates
      overload = true;
    }
    switch (doorsByte_) {
      case 2:
        p[0] = static_cast<uint8_t>(k >> 8);
        p[1] = static_cast<uint8_t>(k);
        break;
      case 4:
        p[0] = static_cast<uint8_t>(k >> 24);
        p[1] = static_cast<uint8_t>(k >> 16);
        p[2] = static_cast<uint8_t>(k >> 8);
        p[3] = static_cast<uint8_t>(k);
        break;
      default:
        for (int b = doorsByte_ - 1; b >= 0; --b) {
          const int shift = 8 * (doorsByte_ - 1 - b);
          p[b] = shift < 64 ? static_cast<uint8_t>(k >> shift) : 0;
        }
        break;
    }
    p += doorsByte_;
  }
  WriteInfo(p, pulses, overload, t);
}

void TSimLidarDevice::WriteInfo(uint8_t* info, uint64_t pulses, bool overload, TDateTime t) {
  std::fill(info, info + infoBytes_, uint8_t{0});
  for (const TField& f : fields_) {
    const TInfoDescription& d = f.Description;
    if (d.B <= 0 || d.S < 0 || d.O < 0 || d.B + d.S > 64) continue;
    const int bytes = (d.B + d.S + 7) / 8;
    if (d.O + bytes > infoBytes_) continue;
    double raw = 0;
    switch (f.Kind) {
      case TFieldKind::Shots:
        raw = static_cast<double>(pulses);
        break;
      case TFieldKind::Overload:
        raw = TSimMeasureModel::RawFor(d, overload ? 1.0 : 0.0);
        break;
      case TFieldKind::Measure:
        raw = TSimMeasureModel::RawFor(d, f.Model.Value(t, rng_));
        break;
    }
    const uint64_t maxRaw = d.B >= 64 ? ~uint64_t{0} : (uint64_t{1} << d.B) - 1;
    uint64_t value = 0;
    if (std::isfinite(raw) && raw > 0)
      value = raw >= static_cast<double>(maxRaw) ? maxRaw : static_cast<uint64_t>(std::floor(raw + 0.5));
    const uint64_t mask = maxRaw << d.S;
    value = (value << d.S) & mask;
    for (int k = 0; k < bytes; ++k) {
      const int shift = 8 * (bytes - 1 - k);
      const auto m = static_cast<uint8_t>(mask >> shift);
      uint8_t& b = info[d.O + k];
      b = static_cast<uint8_t>((b & ~m) | (static_cast<uint8_t>(value >> shift) & m));
    }
  }
}

}  // namespace OrlaqLidar
