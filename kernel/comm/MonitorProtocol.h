#pragma once
// Framing of the monitoring channels: queries are bare command characters,
// answers are short text lines ended by LF CR, and the ping answer is a
// lone 'Q'.
#include <cstdint>
#include <string>

#include "kernel/comm/Protocol.h"

namespace OrlaqLidar {

class TMonitorProtocol : public TProtocol {
 public:
  static constexpr int32_t Capacity = 12;

  explicit TMonitorProtocol(TChannel* channel);

  int32_t MakeFrame(const std::string& command, uint8_t* frame, int32_t frameSize) override;
  int32_t ParseAnswer(const uint8_t* data, int32_t length, int32_t maxAnswer, uint8_t* answer) override;

 private:
  // Bytes held up to and including the last line end, 0 when none.
  int32_t LastLineEnd() const;

  // Set after an over-long line until its line end has gone by.
  bool discarding_ = false;
  bool lastWasLF_ = false;
};

}  // namespace OrlaqLidar
