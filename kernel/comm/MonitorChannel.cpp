#include "kernel/comm/MonitorChannel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "Common/StringUtils.h"
#include "Platform/Services.h"
#include "kernel/comm/MonitorProtocol.h"

namespace OrlaqLidar {

namespace {

constexpr int FrameSize = 10;
constexpr double NoMeasure = std::numeric_limits<double>::quiet_NaN();

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNumberChar(char c) { return IsDigit(c) || c == '.' || c == ','; }

}  // namespace

TMonitorChannel::TMonitorChannel(const TChannelConfig& config) : TChannel(config, 0) {
  values_.fill(NoMeasure);
  version_ = "MonitorLid001000001";
  status_.ChangeMask = TState::Connect | TState::Power | TState::Error | TState::AcqState;
  if (config.Protocol == "LIDAR_MONITOR") {
    protocol_ = std::make_unique<TMonitorProtocol>(this);
    protocol_->Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { MonitorProtocolChanged(s, r); };
    childStatuses_.push_back(&protocol_->Status);
  } else {
    status_.Text = "Unknown Protocol";
    status_.SetError(ErrProtocol);
  }
}

TMonitorChannel::~TMonitorChannel() = default;

double TMonitorChannel::Value(int position) const {
  return position >= 0 && position < MaxMeasures ? values_[static_cast<size_t>(position)] : NoMeasure;
}

double TMonitorChannel::ParseMeasure(const std::string& answer) {
  const std::string text = Trim(answer);
  if (text == "999.99") return NoMeasure;
  // Signs, units and other decoration become blanks. A minus directly in
  // front of the number is kept: temperatures outside go below zero.
  std::string clean(text.size(), ' ');
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsNumberChar(c) || (c == '-' && i + 1 < text.size() && IsNumberChar(text[i + 1]))) clean[i] = c;
  }
  const auto v = TryParseDouble(Trim(clean));
  return v ? *v : NoMeasure;
}

int TMonitorChannel::CommandOf(int position) const {
  const auto& list = config_->InfoDescriptions;
  if (position < 0 || position >= static_cast<int>(list.size()) || !list[static_cast<size_t>(position)]) return -1;
  const int index = list[static_cast<size_t>(position)]->Index;
  return index >= 0 && index < MaxMeasures ? index : -1;
}

int TMonitorChannel::NextMeasure(int after) const {
  const auto& list = config_->InfoDescriptions;
  // Only as many measures as there are value slots.
  const int count = std::min(static_cast<int>(list.size()), MaxMeasures);
  for (int pos = std::max(after + 1, 0); pos < count; ++pos)
    if (!list[static_cast<size_t>(pos)]->Text.empty() && CommandOf(pos) >= 0) return pos;
  return -1;
}

bool TMonitorChannel::SendFrame(const std::string& command) {
  uint8_t frame[FrameSize];
  const int n = protocol_->MakeFrame(command, frame, FrameSize);
  if (n <= 0) return false;
  if (Write(frame, n) != n) {
    ReportWriteFailure();
    return false;
  }
  lastQueryTime_ = Now();
  lastQueryTick_ = Tick();
  return true;
}

bool TMonitorChannel::Ping() {
  if (!CanQuery() || !usb_->Connected() || status_.AcqState() != AcqIdle) return false;
  if (!SendFrame("'`;")) return false;
  TraceStatus(TraceSent, "Ping");
  status_.Text = "Ping";
  status_.SetAcqState(AcqPing);
  return true;
}

bool TMonitorChannel::AskData() {
  if (!CanQuery() || status_.ConnectState() != TState::Connected || status_.AcqState() != AcqIdle) return false;
  int command = nextCommand_;
  if (command < 0 || command >= MaxMeasures) {
    const int first = NextMeasure(-1);
    if (first < 0) return false;
    currentMeasure_ = first;
    command = CommandOf(first);
  }
  const std::string frame(1, CommandTable[static_cast<size_t>(command)]);
  if (!SendFrame(frame)) return false;
  TraceStatus(TraceSent, "Ask measure <" + frame + ">...");
  status_.Text = "Getting datas";
  status_.SetAcqState(AcqMeasure);
  return true;
}

void TMonitorChannel::SendRecord() {
  const int count = std::min(static_cast<int>(config_->InfoDescriptions.size()), MaxMeasures);
  const size_t bytes = static_cast<size_t>(count) * sizeof(double);
  std::memcpy(record_.data(), values_.data(), bytes);
  if (OnData) OnData(this, record_.data(), static_cast<int>(bytes), Now());
}

void TMonitorChannel::ReceiveData(TFtdiUSB*, int count) {
  if (count <= 0 || count > bufferLength_ || !protocol_ || !usb_) return;
  uint8_t* buffer = receiveBuffer_.data();
  const int got = usb_->Read(buffer, count);
  if (got <= 0) return;
  TraceData(TraceReceived, buffer, got);
  const int n = protocol_->ParseAnswer(buffer, got, bufferLength_, buffer);
  if (n < 1) return;
  TraceStatusData(TraceReceived, buffer, n);
  const std::string payload(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));

  switch (status_.AcqState()) {
    case AcqPing:
      // Anything else leaves the ping pending until its time-out.
      if (SameText(payload, "Q")) {
        status_.Text = "Ping";
        status_.SetConnectState(TState::Connected);
        status_.SetPowerState(TState::LaserOn);
        status_.SetAcqState(AcqIdle);
      }
      break;
    case AcqMeasure: {
      pending_ = 0;
      status_.Text = "Receive datas";
      if (currentMeasure_ >= 0 && currentMeasure_ < MaxMeasures)
        values_[static_cast<size_t>(currentMeasure_)] = ParseMeasure(payload);
      const int next = NextMeasure(currentMeasure_);
      if (next >= 0 || !OnData) {
        if (next >= 0) currentMeasure_ = next;
        // Chosen before going idle, so that a query the owner sends on the
        // state change asks for the right measure too.
        nextCommand_ = next >= 0 ? CommandOf(next) : -1;
        status_.SetAcqState(AcqIdle);
        AskData();
        nextCommand_ = -1;
      } else {
        status_.SetAcqState(AcqIdle);
        SendRecord();
      }
      break;
    }
    default:
      status_.Text = "Receive datas without ask";
      status_.SetError(ErrNotAsked);
      status_.SetAcqState(AcqIdle);
      break;
  }
}

void TMonitorChannel::CheckTimeOut(TDateTime now) {
  TChannel::CheckTimeOut(now);
  const uint8_t state = status_.AcqState();
  if (state != AcqPing && state != AcqMeasure) return;
  CheckAnswerTimeOut(lastQueryTick_);
}

void TMonitorChannel::Retry(bool again) {
  if (!again) {
    pending_ = 0;
    return;
  }
  ++pending_;
  switch (status_.AcqState()) {
    case AcqPing:
      status_.SetError(0);
      status_.SetAcqState(AcqIdle);
      Ping();
      break;
    case AcqMeasure:
      status_.SetError(0);
      // The repeat asks for the measure that went unanswered, so that its
      // answer lands in its own slot.
      nextCommand_ = CommandOf(currentMeasure_);
      status_.SetAcqState(AcqIdle);
      AskData();
      nextCommand_ = -1;
      break;
    default:
      break;
  }
}

void TMonitorChannel::OpenDevice() {
  if (usb_) usb_->Open(460800, 8, 1, 0, 0);
}

void TMonitorChannel::MonitorProtocolChanged(TStatus* status, TState::ChangeRaison) {
  if (!status || status->Error() == 0) return;
  status_.Text = "Protocol error";
  status_.SetError(ErrProtocol);
  status_.SetAcqState(AcqIdle);
}

}  // namespace OrlaqLidar
