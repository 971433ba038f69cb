#include "kernel/Status.h"

namespace OrlaqLidar {

TStatus::TStatus(std::string name, std::string text) : Text(std::move(text)), Name(std::move(name)) {}

void TStatus::Notify(TState::ChangeRaison reason) {
  // Only the reasons the owner reports are passed on; the value is stored anyway.
  if (OnChange && (reason & ChangeMask)) OnChange(this, reason);
}

void TStatus::SetConnectState(uint8_t v) {
  if (v == connectState_) return;
  connectState_ = v;
  if (v == TState::Disconnected) {
    // A lost connection also ends the laser and any replay; one notice only.
    powerState_ = TState::LaserOff;
    replayState_ = 0;
  }
  Notify(TState::Connect);
}

void TStatus::SetPowerState(uint8_t v) {
  if (v == powerState_) return;
  powerState_ = v;
  Notify(TState::Power);
}

void TStatus::SetError(uint32_t v) {
  if (v == error_) return;
  error_ = v;
  Notify(TState::Error);
}

void TStatus::SetAcqState(uint8_t v) {
  if (v == acqState_) return;
  acqState_ = v;
  Notify(TState::AcqState);
}

void TStatus::SetReplayState(uint8_t v) {
  if (v == replayState_) return;
  replayState_ = v;
  Notify(TState::Replay);
}

void TStatus::SetRecordsNotWritten(uint64_t count) {
  const bool changed = (count == 0) != (recordsNotWritten_ == 0);
  recordsNotWritten_ = count;
  if (changed) Notify(TState::Recording);
}

std::string TStatus::RecordingErrorText() const {
  if (recordsNotWritten_ == 0) return {};
  return "recording error: " + std::to_string(recordsNotWritten_) + " record" +
         (recordsNotWritten_ == 1 ? "" : "s") + " not written";
}

std::string TStatus::ReasonText(TState::ChangeRaison reasons) {
  static const struct {
    TState::ChangeRaison bit;
    const char* text;
  } table[] = {{TState::Connect, "Connect/"},     {TState::Power, "Power/"},   {TState::Error, "Error/"},
               {TState::AcqState, "AcqState/"},   {TState::Replay, "Replay/"}, {TState::Recording, "Recording/"},
               {TState::Init, "Init/"}};
  std::string s;
  for (const auto& r : table)
    if (reasons & r.bit) s += r.text;
  if (s.empty()) return "None";
  s.pop_back();
  return s;
}

std::string TStatus::ConnectText(uint8_t connectState) {
  switch (connectState) {
    case 2: return "Disconnected";
    case 3: return "Connecting";
    case 4: return "Connected";
    default: return "";
  }
}

std::string TStatus::PowerText(uint8_t powerState) {
  switch (powerState) {
    case 1: return "Waiting Laser off";
    case 2: return "Laser off";
    case 3: return "Waiting Laser on";
    case 4: return "Laser warmup";
    case 5: return "Laser on";
    default: return "Status Unknown";
  }
}

}  // namespace OrlaqLidar
