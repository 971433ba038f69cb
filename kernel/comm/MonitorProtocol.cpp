#include "kernel/comm/MonitorProtocol.h"

#include <cstring>

namespace OrlaqLidar {

namespace {

constexpr uint32_t kFrameTooSmall = 0x8000000A;
constexpr uint32_t kBadArgument = 0x8000000B;
constexpr uint32_t kNotExpected = 0x8000000C;

}  // namespace

TMonitorProtocol::TMonitorProtocol(TChannel* channel) : TProtocol(channel, "Monitor Protocol", Capacity) {
  Status.Text = "Ready";
}

int32_t TMonitorProtocol::MakeFrame(const std::string& command, uint8_t* frame, int32_t frameSize) {
  const int64_t n = static_cast<int64_t>(command.size());
  if (frame == nullptr || n >= frameSize) {
    SetError("Protocol error - Make frame buffer is small", kFrameTooSmall);
    return -1;
  }
  if (n > 0) std::memcpy(frame, command.data(), static_cast<size_t>(n));
  // A new query: the rest of an earlier, timed-out line must not be taken
  // as the beginning of this answer.
  FrameCount = 0;
  discarding_ = false;
  return static_cast<int32_t>(n);
}

int32_t TMonitorProtocol::LastLineEnd() const {
  for (int32_t n = FrameCount; n >= 2; --n)
    if (FrameBuffer[static_cast<size_t>(n - 2)] == 0x0A && FrameBuffer[static_cast<size_t>(n - 1)] == 0x0D) return n;
  return 0;
}

int32_t TMonitorProtocol::ParseAnswer(const uint8_t* data, int32_t length, int32_t maxAnswer, uint8_t* answer) {
  if (data == nullptr || answer == nullptr || length < 0) {
    FrameCount = 0;
    SetError("Protocol error - function argument", kBadArgument);
    return -1;
  }
  if (length == 1 && data[0] == 'Q') {
    FrameCount = 0;
    discarding_ = false;
    if (maxAnswer < 1) {
      SetError("Protocol error - Not expected answer", kNotExpected);
      return -1;
    }
    answer[0] = 'Q';
    SetReady();
    return 1;
  }
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t b = data[i];
    if (discarding_) {
      if (lastWasLF_ && b == 0x0D) discarding_ = false;
      lastWasLF_ = b == 0x0A;
      continue;
    }
    if (FrameCount >= FrameCapacity) {
      // A device answers a query with one line: a complete line held is
      // that answer, and what overflows after it is noise, dropped with the
      // rest of this block.
      if (const int32_t end = LastLineEnd(); end > 0) {
        FrameCount = end;
        break;
      }
      // No answer is this long: drop the rest of this line, so that its tail
      // cannot pass for a measure, and start over after its line end.
      SetError("Protocol error - Buffer overflow", kBadArgument);
      lastWasLF_ = FrameBuffer[static_cast<size_t>(FrameCount - 1)] == 0x0A;
      FrameCount = 0;
      discarding_ = !(lastWasLF_ && b == 0x0D);
      lastWasLF_ = b == 0x0A;
      continue;
    }
    FrameBuffer[static_cast<size_t>(FrameCount++)] = b;
  }
  if (FrameCount < 2 || FrameBuffer[static_cast<size_t>(FrameCount - 2)] != 0x0A ||
      FrameBuffer[static_cast<size_t>(FrameCount - 1)] != 0x0D)
    return -1;
  const int32_t n = FrameCount - 2;
  FrameCount = 0;
  if (n > maxAnswer) {
    SetError(
        "Protocol error - Packet too big for query (" + std::to_string(n) + " > " + std::to_string(maxAnswer) + ")",
        kBadArgument);
    return -1;
  }
  if (n > 0) std::memcpy(answer, FrameBuffer.data(), static_cast<size_t>(n));
  SetReady();
  return n;
}

}  // namespace OrlaqLidar
