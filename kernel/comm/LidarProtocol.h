#pragma once
// Framing of the lidar channels: STX/ETX query frames with an XOR checksum
// in hexadecimal, answers in a text form (0x02 .. 0x03) or, for data
// queries, a binary form (02 FF FF FF .. FF FF FF 03).
#include <cstdint>
#include <string>

#include "Config/ChannelConfig.h"
#include "kernel/comm/Protocol.h"

namespace OrlaqLidar {

class TLidarProtocol : public TProtocol {
 public:
  // The buffer is sized from the configuration for one whole binary answer.
  TLidarProtocol(TChannel* channel, const TChannelConfig& config);

  int32_t MakeFrame(const std::string& command, uint8_t* frame, int32_t frameSize) override;
  int32_t ParseAnswer(const uint8_t* data, int32_t length, int32_t maxAnswer, uint8_t* answer) override;

  // 12 + DoorsCount * DoorsByte + InfoBytes, kept within sane bounds.
  static int32_t CapacityFor(const TChannelConfig& config);
  // Queries whose answer comes in the binary form.
  static bool IsBinaryCommand(const std::string& command);

  bool BinaryAnswer = false;
  bool StartFound = false;
  bool EndFound = false;

 private:
  int32_t MarkerLength() const { return BinaryAnswer ? 4 : 1; }
  bool IsStartAt(int32_t pos) const;
  bool IsEndAt(int32_t pos) const;
  int32_t FindStart(int32_t from) const;
  void DropFront(int32_t count);
  void Restart();
  // Payload length when a valid answer stands, -1 when more bytes are
  // needed, -2 when an answer was rejected and the buffer emptied.
  int32_t TakeAnswer(int32_t maxAnswer, uint8_t* answer);

  // End-marker positions below this one were already checked against every
  // start marker before them.
  int32_t endScan_ = 0;
};

}  // namespace OrlaqLidar
