#include "kernel/comm/LidarChannel.h"

#include <algorithm>
#include <limits>

#include "Common/StringUtils.h"
#include "Platform/Services.h"
#include "kernel/ErrorLogger.h"
#include "kernel/comm/LidarProtocol.h"

namespace OrlaqLidar {

namespace {

// Keeps the baud rate computation within int; the driver rejects what it cannot do.
constexpr int MaxBaudHundreds = std::numeric_limits<int>::max() / 100;

bool IsOK(const uint8_t* data, int n) {
  return n == 2 && SameText(std::string_view(reinterpret_cast<const char*>(data), 2), "OK");
}

}  // namespace

TLidarChannel::TLidarChannel(const TChannelConfig& config)
    : TChannel(config, 0), alternateOption_(HasOption(SortedOptions(config.ProtoOpt), "Q")) {
  status_.ChangeMask = TState::Connect | TState::Error | TState::AcqState;
  if (config.HasLaserCmd > 0) status_.ChangeMask |= TState::Power;
  if (config.Protocol == "LIDAR") {
    protocol_ = std::make_unique<TLidarProtocol>(this, config);
    protocol_->Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { ProtocolStatusChanged(s, r); };
    childStatuses_.push_back(&protocol_->Status);
  } else {
    status_.Text = "Unknown Protocol";
    status_.SetError(ErrProtocol);
  }
}

TLidarChannel::~TLidarChannel() = default;

std::vector<std::string> TLidarChannel::SortedOptions(const std::string& protoOpt) {
  std::vector<std::string> list;
  for (const std::string& item : SplitString(protoOpt, ',')) {
    std::string t = Trim(item);
    if (!t.empty()) list.push_back(std::move(t));
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const std::string& a, const std::string& b) { return UpperCase(a) < UpperCase(b); });
  return list;
}

bool TLidarChannel::HasOption(const std::vector<std::string>& options, const std::string& name) {
  return std::any_of(options.begin(), options.end(), [&](const std::string& o) { return SameText(o, name); });
}

bool TLidarChannel::SendCommand(const std::string& command) {
  if (!CanQuery()) return false;
  std::vector<uint8_t> frame(command.size() + 4);
  status_.SetError(0);
  const int n = protocol_->MakeFrame(command, frame.data(), static_cast<int32_t>(frame.size()));
  if (n <= 0) return false;
  // Also drops whatever is left of an earlier, stale answer.
  Purge();
  if (Write(frame.data(), n) == n) {
    lastRequestTime_ = Now();
    lastRequestTick_ = Tick();
    return true;
  }
  ReportWriteFailure();
  return false;
}

bool TLidarChannel::AskVersion() {
  if (!CanQuery() || !usb_->Connected() || status_.AcqState() != AcqIdle) return false;
  if (!SendCommand("C")) return false;
  TraceStatus(TraceSent, "Ask version");
  status_.Text = "Reading version";
  status_.SetAcqState(AcqVersion);
  return true;
}

bool TLidarChannel::SwitchLaser(bool on) {
  if (!CanQuery()) return false;
  if (config_->HasLaserCmd < 1) {
    status_.SetError(0);
    status_.Text = on ? "Ready" : "Shutoff";
    status_.SetPowerState(on ? TState::LaserOn : TState::LaserOff);
    pending_ = 0;
    status_.SetAcqState(AcqIdle);
    return true;
  }
  if (status_.ConnectState() != TState::Connected || status_.AcqState() != AcqIdle) return false;
  const std::string command = on ? (config_->HasLaserCmd == 2 ? "i" : "I") : "J";
  if (!SendCommand(command)) return false;
  if (on) {
    TraceStatus(TraceSent, "Ask laser on " + command);
    status_.Text = "Asking Laser On";
    status_.SetPowerState(TState::WaitingPowerOn);
    status_.SetAcqState(AcqLaserOn);
  } else {
    TraceStatus(TraceSent, "Ask laser off " + command);
    status_.Text = "Asking Laser Off";
    status_.SetPowerState(TState::WaitingPowerOff);
    status_.SetAcqState(AcqLaserOff);
  }
  return true;
}

bool TLidarChannel::AskLaserStatus() {
  if (!CanQuery()) return false;
  if (config_->HasLaserCmd < 2) {
    status_.SetError(0);
    pending_ = 0;
    status_.SetAcqState(AcqIdle);
    return true;
  }
  if (status_.ConnectState() != TState::Connected || status_.AcqState() != AcqIdle) return false;
  if (!SendCommand("L")) return false;
  TraceStatus(TraceSent, "Ask laser status ");
  status_.Text = "Asking Laser Status";
  status_.SetAcqState(AcqLaserStatus);
  return true;
}

bool TLidarChannel::AskData() {
  if (!CanQuery() || status_.ConnectState() != TState::Connected || status_.PowerState() != TState::LaserOn ||
      status_.AcqState() != AcqIdle)
    return false;
  if (alternateOption_) alternate_ = !alternate_;
  const std::string command = alternate_ ? "Q" : (config_->HasLaserCmd < 2 ? "A" : "a");
  if (!SendCommand(command)) return false;
  TraceStatus(TraceSent, "Ask shoot...");
  status_.Text = "Asking data";
  status_.SetAcqState(AcqData);
  return true;
}

void TLidarChannel::ReceiveData(TFtdiUSB*, int count) {
  // A larger block stays in the USB buffer; the next query's purge drops it.
  if (count <= 0 || count > bufferLength_ || !protocol_ || !usb_) return;
  uint8_t* buffer = receiveBuffer_.data();
  const int got = usb_->Read(buffer, count);
  if (got <= 0) return;
  TraceData(TraceReceived, buffer, got);
  const int n = protocol_->ParseAnswer(buffer, got, bufferLength_, buffer);
  if (n < 1) return;
  TraceStatusData(TraceReceived, buffer, n);

  if (n == 2 && SameText(std::string_view(reinterpret_cast<const char*>(buffer), 2), "eU")) {
    pending_ = 0;
    status_.Text = "Unknown command sent";
    TraceStatus(TraceReceived, status_.Text);
    status_.SetError(ErrUnknownCommand);
    status_.SetAcqState(AcqIdle);
    return;
  }

  switch (status_.AcqState()) {
    case AcqVersion:
      version_.assign(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
      pending_ = 0;
      status_.Text = "Read version";
      TraceStatus(TraceReceived, "Got version <" + version_ + ">");
      status_.SetConnectState(TState::Connected);
      status_.SetAcqState(AcqIdle);
      break;
    case AcqLaserOn:
      if (IsOK(buffer, n)) {
        pending_ = 0;
        status_.Text = "Laser on";
        TraceStatus(TraceReceived, "Laser is ON");
        status_.SetPowerState(TState::LaserWarmup);
      } else {
        status_.Text = "Error Lidar laser on";
        TraceStatus(TraceReceived, status_.Text);
        status_.SetError(ErrLaserOn);
      }
      status_.SetAcqState(AcqIdle);
      break;
    case AcqLaserOff:
      if (IsOK(buffer, n)) {
        pending_ = 0;
        status_.Text = "Laser off";
        TraceStatus(TraceReceived, "Laser is OFF");
        status_.SetPowerState(TState::LaserOff);
      } else {
        status_.Text = "Error Lidar laser off";
        TraceStatus(TraceReceived, status_.Text);
        status_.SetError(ErrLaserOff);
      }
      status_.SetAcqState(AcqIdle);
      break;
    case AcqLaserStatus:
      pending_ = 0;
      if (IsOK(buffer, n)) {
        status_.Text = "Laser is on";
        TraceStatus(TraceReceived, "Laser is ON");
        // A laser still warming up stays there until the owner ends the warm-up.
        if (status_.PowerState() != TState::LaserWarmup) status_.SetPowerState(TState::LaserOn);
      } else {
        status_.Text = "Lidar laser off";
        TraceStatus(TraceReceived, "Laser is OFF");
        status_.SetPowerState(TState::LaserOff);
      }
      status_.SetAcqState(AcqIdle);
      break;
    case AcqData:
      pending_ = 0;
      if (n == 2 && buffer[0] == 'K' && buffer[1] == 'O') {
        status_.Text = "Laser Security!";
        TraceStatus(TraceReceived, "Receive Laser Security!");
        Log("Laser Watchdog triggered !(PC was too busy ?)");
        status_.SetPowerState(TState::LaserOff);
        status_.SetAcqState(AcqIdle);
      } else {
        status_.Text = "Receive data";
        TraceStatus(TraceReceived, "Receive shoot");
        // Idle first: the owner may ask for the next shot from inside OnData.
        status_.SetAcqState(AcqIdle);
        if (OnData) OnData(this, buffer, n, Now());
      }
      break;
    default:
      TraceStatus(TraceReceived, status_.Text);
      status_.SetAcqState(AcqIdle);
      break;
  }
}

void TLidarChannel::CheckTimeOut(TDateTime now) {
  TChannel::CheckTimeOut(now);
  switch (status_.AcqState()) {
    case AcqVersion:
    case AcqLaserOn:
    case AcqLaserOff:
    case AcqLaserStatus:
    case AcqData:
      break;
    default:
      return;
  }
  // The query stays pending: the owner decides through Retry.
  CheckAnswerTimeOut(lastRequestTick_);
}

void TLidarChannel::Retry(bool again) {
  if (!again) {
    pending_ = 0;
    return;
  }
  ++pending_;
  const uint8_t state = status_.AcqState();
  if (state != AcqVersion && state != AcqLaserOn && state != AcqLaserOff && state != AcqLaserStatus && state != AcqData)
    return;
  status_.SetError(0);
  status_.SetAcqState(AcqIdle);
  switch (state) {
    case AcqVersion:
      AskVersion();
      break;
    case AcqLaserOn:
      SwitchLaser(true);
      break;
    case AcqLaserOff:
      SwitchLaser(false);
      break;
    case AcqLaserStatus:
      AskLaserStatus();
      break;
    default:
      AskData();
      break;
  }
}

void TLidarChannel::KeepAlive(TDateTime) {
  if (!usb_ || !usb_->Connected() || status_.PowerState() < TState::WaitingPowerOn || status_.AcqState() != AcqIdle ||
      pending_ != 0)
    return;
  // Two thirds of the time-out without a query.
  const uint64_t elapsed = Tick() - lastRequestTick_;
  if (elapsed * 3 > static_cast<uint64_t>(std::max(config_->TimeOut, 0)) * 2) AskLaserStatus();
}

void TLidarChannel::OpenDevice() {
  if (!usb_) return;
  const std::vector<std::string> options = SortedOptions(config_->ProtoOpt);
  int hundreds = 0;
  if (!options.empty()) {
    const auto b = TryParseInt(options.front());
    if (b && *b >= 1 && *b <= MaxBaudHundreds) hundreds = *b;
  }
  const int flow = HasOption(options, "HW") ? 1 : 0;
  if (hundreds >= 1)
    usb_->Open(hundreds * 100, 8, 1, 0, flow);
  else
    usb_->Open();
  usb_->ChangeOutLine(TFtdiUSB::LineRts | TFtdiUSB::LineDtr, 0);
}

}  // namespace OrlaqLidar
