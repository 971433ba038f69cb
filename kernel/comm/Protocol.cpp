#include "kernel/comm/Protocol.h"

namespace OrlaqLidar {

TProtocol::TProtocol(TChannel* channel, const std::string& name, int32_t frameCapacity)
    : Status(name, "Ready"), Channel(channel), FrameCapacity(frameCapacity > 0 ? frameCapacity : 0) {
  // The owner only cares about errors of its protocol.
  Status.ChangeMask = TState::Error;
  FrameBuffer.assign(static_cast<size_t>(FrameCapacity), 0);
}

TProtocol::~TProtocol() = default;

void TProtocol::SetError(const std::string& text, uint32_t code) {
  Status.Text = text;
  Status.SetError(code);
}

void TProtocol::SetReady() {
  Status.Text = "Ready";
  Status.SetError(0);
}

}  // namespace OrlaqLidar
