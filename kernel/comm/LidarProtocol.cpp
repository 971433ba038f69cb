#include "kernel/comm/LidarProtocol.h"

#include <algorithm>
#include <cstring>

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t ETX = 0x03;
constexpr uint8_t kBinaryStart[4] = {0x02, 0xFF, 0xFF, 0xFF};
constexpr uint8_t kBinaryEnd[4] = {0xFF, 0xFF, 0xFF, 0x03};
// The definition loader sizes receive buffers from this framing.
static_assert(sizeof kBinaryStart + sizeof kBinaryEnd + 2 == TChannelConfig::ShotFramingBytes);

constexpr uint32_t kFrameTooSmall = 0x8000000A;
constexpr uint32_t kBadArgument = 0x8000000B;
constexpr uint32_t kBadChecksum = 0x8000000C;

// A definition file with absurd gate counts must not make us allocate
// gigabytes or overflow the size computation.
constexpr int64_t kMaxCapacity = 64 * 1024 * 1024;

int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// -1 when either character is no hexadecimal digit: it never matches.
int HexByte(uint8_t hi, uint8_t lo) {
  const int h = HexDigit(hi), l = HexDigit(lo);
  return (h < 0 || l < 0) ? -1 : h * 16 + l;
}

uint8_t XorOf(const uint8_t* p, int32_t n) {
  uint8_t x = 0;
  for (int32_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

std::string Hex2(int v) {
  if (v < 0) return "??";
  static const char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(v >> 4) & 15], kDigits[v & 15]};
}

}  // namespace

int32_t TLidarProtocol::CapacityFor(const TChannelConfig& config) {
  const int64_t doors = std::max(config.DoorsCount, 0);
  const int64_t bytes = std::max(config.DoorsByte, 0);
  const int64_t info = std::max(config.InfoBytes, 0);
  return static_cast<int32_t>(std::min<int64_t>(12 + doors * bytes + info, kMaxCapacity));
}

bool TLidarProtocol::IsBinaryCommand(const std::string& command) {
  if (command.empty()) return false;
  const char c = command[0];
  return c == 'A' || c == 'a' || c == 'B' || c == 'Q';
}

TLidarProtocol::TLidarProtocol(TChannel* channel, const TChannelConfig& config)
    : TProtocol(channel, "Lidar Protocol", CapacityFor(config)) {
  Status.Text = "Ready";
  Restart();
}

void TLidarProtocol::Restart() {
  FrameCount = 0;
  StartFound = false;
  EndFound = false;
  endScan_ = MarkerLength();
}

int32_t TLidarProtocol::MakeFrame(const std::string& command, uint8_t* frame, int32_t frameSize) {
  const int64_t n = static_cast<int64_t>(command.size());
  if (frame == nullptr || frameSize < n + 4) {
    SetError("Protocol error - Frame buffer too small", kFrameTooSmall);
    FrameCount = 0;
    return -1;
  }
  frame[0] = STX;
  if (n > 0) std::memcpy(frame + 1, command.data(), static_cast<size_t>(n));
  frame[n + 1] = ETX;
  const uint8_t sum = XorOf(frame, static_cast<int32_t>(n + 2));
  static const char kDigits[] = "0123456789ABCDEF";
  frame[n + 2] = static_cast<uint8_t>(kDigits[sum >> 4]);
  frame[n + 3] = static_cast<uint8_t>(kDigits[sum & 0x0F]);
  BinaryAnswer = IsBinaryCommand(command);
  Restart();
  return static_cast<int32_t>(n + 4);
}

bool TLidarProtocol::IsStartAt(int32_t pos) const {
  if (!BinaryAnswer) return pos < FrameCount && FrameBuffer[static_cast<size_t>(pos)] == STX;
  return pos + 4 <= FrameCount && std::memcmp(FrameBuffer.data() + pos, kBinaryStart, 4) == 0;
}

bool TLidarProtocol::IsEndAt(int32_t pos) const {
  if (!BinaryAnswer) return pos < FrameCount && FrameBuffer[static_cast<size_t>(pos)] == ETX;
  return pos + 4 <= FrameCount && std::memcmp(FrameBuffer.data() + pos, kBinaryEnd, 4) == 0;
}

// The first start marker wins: a later one may just be payload bytes that
// happen to look like a marker, and the checksum tells which start is real.
int32_t TLidarProtocol::FindStart(int32_t from) const {
  for (int32_t p = from; p + MarkerLength() <= FrameCount; ++p)
    if (IsStartAt(p)) return p;
  return -1;
}

void TLidarProtocol::DropFront(int32_t count) {
  if (count <= 0) return;
  if (count >= FrameCount) {
    FrameCount = 0;
  } else {
    std::memmove(FrameBuffer.data(), FrameBuffer.data() + count, static_cast<size_t>(FrameCount - count));
    FrameCount -= count;
  }
  endScan_ = std::max(endScan_ - count, MarkerLength());
}

int32_t TLidarProtocol::TakeAnswer(int32_t maxAnswer, uint8_t* answer) {
  const int32_t m = MarkerLength();
  const uint8_t* buf = FrameBuffer.data();
  int32_t e = std::max(endScan_, m);
  for (; e + m + 2 <= FrameCount; ++e) {
    // Both end markers finish with ETX: jump to the next one instead of
    // comparing the marker at every byte of a shot.
    const size_t span = static_cast<size_t>(FrameCount - e - m - 1);
    const void* hit = std::memchr(buf + e + m - 1, ETX, span);
    if (!hit) {
      e = FrameCount - m - 1;
      break;
    }
    e = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - buf) - (m - 1);
    if (!IsEndAt(e)) continue;
    EndFound = true;
    endScan_ = e + 1;
    const int32_t frameEnd = e + m;
    const int received = HexByte(buf[frameEnd], buf[frameEnd + 1]);
    const uint8_t total = XorOf(buf, frameEnd);
    // Checked from the first start marker on; a later marker is tried only
    // when the checksum rules the earlier one out (noise that looked like a
    // start, or marker bytes inside the payload of the real answer).
    int32_t start = -1;
    if (received == total) {
      start = 0;
    } else if (received >= 0) {
      uint8_t prefix = 0;
      for (int32_t s = 1; s + m <= e; ++s) {
        prefix ^= buf[s - 1];
        if (IsStartAt(s) && static_cast<uint8_t>(total ^ prefix) == received) {
          start = s;
          break;
        }
      }
    }
    if (start < 0) {
      // Keep the bytes: this end marker may sit inside the payload and the
      // real one still be on its way. Saturated gates make that common in a
      // shot, so a mismatch there is no error until the frame could hold no
      // more; reporting it would have the owner ask again and purge the rest
      // of a good answer. Text answers are plain ASCII and hold no ETX.
      if (BinaryAnswer && frameEnd + 2 < FrameCapacity - 2) {
        EndFound = false;
        continue;
      }
      SetError("Protocol error - Check Sum (R" + Hex2(received) + "h<>" + Hex2(total) + "h/L" +
                   std::to_string(frameEnd + 2) + ")",
               kBadChecksum);
      EndFound = false;
      continue;
    }
    const int32_t length = e - start - m;
    if (length > maxAnswer) {
      SetError("Protocol error - Packet too big for query (" + std::to_string(length) + " > " +
                   std::to_string(maxAnswer) + ")",
               kBadArgument);
      Restart();
      return -2;
    }
    if (length > 0) std::memcpy(answer, buf + start + m, static_cast<size_t>(length));
    // One answer per query: whatever else is held is forgotten, so a stray
    // later block cannot hand out the same answer twice.
    Restart();
    EndFound = true;
    SetReady();
    return length;
  }
  // Every end position before e has been looked at with its checksum.
  endScan_ = std::max(endScan_, e);
  return -1;
}

int32_t TLidarProtocol::ParseAnswer(const uint8_t* data, int32_t length, int32_t maxAnswer, uint8_t* answer) {
  if (data == nullptr || answer == nullptr || length <= 0) {
    StartFound = false;
    SetError("Protocol error - function argument", kBadArgument);
    return -1;
  }
  StartFound = false;
  EndFound = false;
  int32_t consumed = 0;
  while (consumed < length) {
    const int32_t room = FrameCapacity - FrameCount;
    if (room < 1) {
      // A full buffer that starts with a marker but holds no valid answer:
      // give the next marker a chance before giving up on this query.
      const int32_t next = IsStartAt(0) ? FindStart(1) : -1;
      if (next > 0) {
        DropFront(next);
        continue;
      }
      SetError("Protocol error - Buffer overflow", kBadArgument);
      return -1;
    }
    if (FrameCount == 0) {
      StartFound = false;
      endScan_ = MarkerLength();
    }
    const int32_t n = std::min(room, length - consumed);
    std::memcpy(FrameBuffer.data() + FrameCount, data + consumed, static_cast<size_t>(n));
    FrameCount += n;
    consumed += n;

    if (!StartFound) {
      const int32_t p = FindStart(0);
      if (p >= 0) {
        DropFront(p);
        StartFound = true;
        EndFound = false;
      } else if (!BinaryAnswer) {
        FrameCount = 0;
        continue;
      } else {
        if (FrameCount >= 4) {
          Log("Drop " + std::to_string(FrameCount - 3) + " unusable data ");
          // The last three bytes may be the beginning of a split marker.
          DropFront(FrameCount - 3);
        }
        continue;
      }
    }
    const int32_t r = TakeAnswer(maxAnswer, answer);
    if (r >= 0) return r;
  }
  return -1;
}

}  // namespace OrlaqLidar
