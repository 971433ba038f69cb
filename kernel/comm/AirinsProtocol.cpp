#include "kernel/comm/AirinsProtocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Platform/Services.h"

namespace OrlaqLidar {

TAirinsProtocol::TAirinsProtocol() : Status("Airins Protocol", "Ready") {
  Status.ChangeMask = TState::Connect | TState::Error | TState::AcqState;
}

uint16_t TAirinsProtocol::Crc16X25(const uint8_t* data, size_t length) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : (crc >> 1);
  }
  return static_cast<uint16_t>(~crc);
}

void TAirinsProtocol::Trace(char kind, const std::string& text) {
  if (!OnTrace) return;
  OnTrace(Status.Name, kind, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()),
          Services().Clock->NowUTC());
}

void TAirinsProtocol::SetError(const std::string& text, uint32_t code) {
  Status.Text = text;
  Status.SetError(code);
}

void TAirinsProtocol::Reset() {
  count_ = 0;
  SetError("Ready", 0);
}

int TAirinsProtocol::ParseAnswer(const uint8_t* data, int length, int maxAnswer, uint8_t* answer) {
  int result = -1;
  int pos = 0;
  do {
    int used = 0;
    const int r = ParseRecord(data ? data + pos : nullptr, length - pos, maxAnswer, answer, used);
    if (r == RecordSize)
      result = RecordSize;
    else if (r == InvalidFrame || used == 0)
      result = -1;
    if (used == 0) break;
    pos += used;
  } while (pos < length);
  return result;
}

int TAirinsProtocol::ParseRecord(const uint8_t* data, int length, int maxAnswer, uint8_t* answer, int& consumed) {
  consumed = 0;
  // A short answer buffer would be overrun by the record.
  if (!data || !answer || length < 0 || maxAnswer < RecordSize) {
    count_ = 0;
    SetError("Protocol error - function argument", ErrArgument);
    return -1;
  }
  int pos = 0;
  while (pos < length) {
    const int take = std::min(FrameSize - count_, length - pos);
    std::memcpy(frame_.data() + count_, data + pos, static_cast<size_t>(take));
    count_ += take;
    pos += take;

    const uint8_t* start = std::find(frame_.data(), frame_.data() + count_, StartByte);
    const int skip = static_cast<int>(start - frame_.data());
    if (skip > 0) {
      std::memmove(frame_.data(), start, static_cast<size_t>(count_ - skip));
      count_ -= skip;
      Trace('S', "Skip " + std::to_string(skip) + " byte");
    }
    if (count_ < FrameSize) continue;

    const uint16_t computed = Crc16X25(frame_.data() + 1, 39);
    const uint16_t received = static_cast<uint16_t>(frame_[40] | (frame_[41] << 8));
    if (computed != received) {
      // The next search passes over this start byte; a 'q' inside the
      // frame becomes the next candidate.
      frame_[0] = 0;
      char text[64];
      std::snprintf(text, sizeof text, "Protocol error - Check Sum (R%04Xh<>%04Xh)", received, computed);
      Trace('S', text);
      continue;
    }
    count_ = 0;
    consumed = pos;
    const uint16_t state = static_cast<uint16_t>(frame_[38] | (frame_[39] << 8));
    if (state != 0) {
      SetError("Invalid data", ErrInvalidData);
      Trace('S', "Invalid data");
      return InvalidFrame;
    }
    // Record bytes 0..16 sit at offsets 1..17, bytes 17..34 at 20..37.
    std::memcpy(answer, frame_.data() + 1, 17);
    std::memcpy(answer + 17, frame_.data() + 20, 18);
    SetError("Ready", 0);
    Trace('<', "Got data");
    return RecordSize;
  }
  consumed = pos;
  return -1;
}

}  // namespace OrlaqLidar
