#pragma once
// Framing of one channel's query/answer exchange: turns a command into the
// bytes of a query frame and reassembles received bytes into the payload of
// one answer. One object per channel, used from the channel's thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/Status.h"

namespace OrlaqLidar {

class TChannel;

class TProtocol {
 public:
  // channel: the owner, not owned; may be null (no owner yet, tests).
  TProtocol(TChannel* channel, const std::string& name, int32_t frameCapacity);
  virtual ~TProtocol();
  TProtocol(const TProtocol&) = delete;
  TProtocol& operator=(const TProtocol&) = delete;

  // Writes the query frame of command into frame (frameSize bytes) and
  // returns its length, or -1 on error. Starts a new answer: bytes held
  // from an earlier answer are forgotten.
  virtual int32_t MakeFrame(const std::string& command, uint8_t* frame, int32_t frameSize) = 0;

  // Appends length received bytes; as soon as a complete, valid answer
  // stands, copies its payload (at most maxAnswer bytes) into answer and
  // returns the payload length (>= 0). Returns -1 when more bytes are needed
  // or on error. data and answer may be the same buffer.
  virtual int32_t ParseAnswer(const uint8_t* data, int32_t length, int32_t maxAnswer, uint8_t* answer) = 0;

  int32_t GetFrameCount() const { return FrameCount; }
  int32_t GetFrameCapacity() const { return FrameCapacity; }

  // Named after the protocol; only Error changes are notified.
  TStatus Status;
  TChannel* Channel;

 protected:
  void SetError(const std::string& text, uint32_t code);
  void SetReady();

  std::vector<uint8_t> FrameBuffer;
  int32_t FrameCount = 0;
  int32_t FrameCapacity = 0;
};

}  // namespace OrlaqLidar
