#pragma once
// Framing of the INS stream: 42-byte frames starting with 'q', carrying a
// 35-byte navigation record, a status word and a CRC-16/X-25. Resyncs on
// the next start byte after garbage or a failed checksum.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Common/DateTime.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TAirinsProtocol {
 public:
  using TTraceEvent =
      std::function<void(const std::string& source, char kind, const uint8_t* data, int length, TDateTime time)>;

  static constexpr int FrameSize = 42;
  static constexpr int RecordSize = 35;
  static constexpr uint8_t StartByte = 0x71;
  static constexpr uint32_t ErrArgument = 0x8000000B;
  static constexpr uint32_t ErrInvalidData = 0x80000010;

  TAirinsProtocol();
  virtual ~TAirinsProtocol() = default;
  TAirinsProtocol(const TAirinsProtocol&) = delete;
  TAirinsProtocol& operator=(const TAirinsProtocol&) = delete;

  // Feeds length received bytes. Returns RecordSize when the last frame of
  // this call that passed its checksum was valid (its record is in
  // answer), -1 otherwise. answer needs room for RecordSize bytes.
  virtual int ParseAnswer(const uint8_t* data, int length, int maxAnswer, uint8_t* answer);

  // Feeds bytes up to and including the first frame that passes its
  // checksum, so that every record of a block can be taken in turn.
  // consumed tells how many bytes were taken. Returns RecordSize when that
  // frame is valid (its record is in answer), InvalidFrame when its status
  // word is not 0, -1 when the bytes ran out first.
  int ParseRecord(const uint8_t* data, int length, int maxAnswer, uint8_t* answer, int& consumed);
  static constexpr int InvalidFrame = -2;

  // A new stream: forgets the bytes held and the last frame's error.
  void Reset();
  int FrameCount() const { return count_; }

  // CRC-16/X-25: reflected polynomial 0x8408, initial 0xFFFF, complemented.
  static uint16_t Crc16X25(const uint8_t* data, size_t length);

  // "Airins Protocol"; Connect, Error and AcqState are reported.
  TStatus Status;
  TTraceEvent OnTrace;

 private:
  void Trace(char kind, const std::string& text);
  void SetError(const std::string& text, uint32_t code);

  std::array<uint8_t, FrameSize> frame_{};
  int count_ = 0;
};

}  // namespace OrlaqLidar
