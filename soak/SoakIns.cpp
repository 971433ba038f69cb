#include "soak/SoakIns.h"

#include <algorithm>

namespace OrlaqLidar {

TSoakIns::TSoakIns(TFakeSocketFactory& sockets, TMainLoop& loop, const TClock& clock, int rateHz)
    : sockets_(sockets), loop_(loop), clock_(clock), startTick_(clock.TickMs()) {
  settings_.RateHz = std::clamp(rateHz, 1, 200);
  settings_.BadChecksumEvery = 0;
  timer_ = loop_.StartTimer(1000 / settings_.RateHz, [this] { Step(); });
}

TSoakIns::~TSoakIns() { loop_.StopTimer(timer_); }

bool TSoakIns::Connected() const {
  const TFakeTcpSocket* s = sockets_.Last();
  return s && s->State() == TSocketState::Connected;
}

void TSoakIns::SetUp(bool up) {
  up_ = up;
  if (!up_)
    if (TFakeTcpSocket* s = sockets_.Last()) s->RemoteClose(TTcpSocket::ErrNetwork);
}

void TSoakIns::Step() {
  TFakeTcpSocket* s = sockets_.Last();
  if (!s) return;
  if (s->State() == TSocketState::Connecting) {
    if (up_) {
      s->AcceptConnection();
      ++accepted_;
    } else {
      s->RefuseConnection(TTcpSocket::ErrRefused);
    }
    return;
  }
  if (!up_ || s->State() != TSocketState::Connected) return;
  const double elapsed = static_cast<double>(clock_.TickMs() - startTick_) / 1000.0;
  const TSimInsServer::TFrame frame = TSimInsServer::MakeFrame(settings_, clock_.NowUTC(), elapsed);
  s->Feed(std::vector<uint8_t>(frame.begin(), frame.end()));
  if (OnDelivered) OnDelivered();
}

}  // namespace OrlaqLidar
