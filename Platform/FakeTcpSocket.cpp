#include "Platform/FakeTcpSocket.h"

#include <algorithm>
#include <cstring>

#include "Platform/FakeSocketFactory.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

TFakeTcpSocket::TFakeTcpSocket(TFakeSocketFactory* factory, std::string host, uint16_t port)
    : factory_(factory), host_(std::move(host)), port_(port) {}

TFakeTcpSocket::~TFakeTcpSocket() {
  *alive_ = false;
  if (factory_) factory_->Forget(this);
}

bool TFakeTcpSocket::Connect() {
  ++connectCalls_;
  if (state_ == TSocketState::Connecting || state_ == TSocketState::Connected) return true;
  if (state_ != TSocketState::Opened || FailConnect) return false;
  state_ = TSocketState::Connecting;
  Raise({{TEvent::State, 0, TSocketState::Opened, TSocketState::Connecting}});
  return true;
}

int TFakeTcpSocket::Receive(uint8_t* buffer, int size) {
  if (!buffer || size < 0) return -1;
  size_t n = std::min(inbound_.size(), static_cast<size_t>(size));
  if (ReceiveLimit > 0) n = std::min(n, static_cast<size_t>(ReceiveLimit));
  if (n > 0) std::memcpy(buffer, inbound_.data(), n);
  inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(n));
  return static_cast<int>(n);
}

int TFakeTcpSocket::Send(const uint8_t* data, int length) {
  if (state_ != TSocketState::Connected || !data || length < 0) return -1;
  Sent.insert(Sent.end(), data, data + length);
  return length;
}

void TFakeTcpSocket::Close() {
  closedLocally_ = true;
  state_ = TSocketState::Closed;
}

void TFakeTcpSocket::Abort() {
  aborted_ = true;
  inbound_.clear();
  state_ = TSocketState::Closed;
}

void TFakeTcpSocket::Move(TSocketState next, std::vector<TPending>& events) {
  events.push_back({TEvent::State, 0, state_, next});
  state_ = next;
}

void TFakeTcpSocket::AcceptConnection() {
  if (state_ != TSocketState::Connecting) return;
  std::vector<TPending> events;
  Move(TSocketState::Connected, events);
  events.push_back({TEvent::Connected, 0, state_, state_});
  Raise(std::move(events));
}

void TFakeTcpSocket::RefuseConnection(int error) {
  if (state_ != TSocketState::Connecting) return;
  std::vector<TPending> events;
  events.push_back({TEvent::Connected, error ? error : ErrRefused, state_, state_});
  Move(TSocketState::Closed, events);
  Raise(std::move(events));
}

void TFakeTcpSocket::Feed(const std::vector<uint8_t>& bytes) {
  if (state_ != TSocketState::Connected || bytes.empty()) return;
  inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
  Raise({{TEvent::Data, 0, state_, state_}});
}

void TFakeTcpSocket::Feed(std::string_view bytes) { Feed(std::vector<uint8_t>(bytes.begin(), bytes.end())); }

void TFakeTcpSocket::RemoteClose(int error) {
  if (state_ != TSocketState::Connected) return;
  std::vector<TPending> events;
  Move(TSocketState::Closed, events);
  events.push_back({TEvent::Closed, error, state_, state_});
  Raise(std::move(events));
}

void TFakeTcpSocket::Raise(std::vector<TPending> events) {
  TMainLoop* loop = Services().Loop;
  if (!loop) {
    Deliver(events);
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  loop->Post([this, alive, events = std::move(events)] {
    if (alive.expired()) return;
    Deliver(events);
  });
}

void TFakeTcpSocket::Deliver(const std::vector<TPending>& events) {
  // A handler may destroy this socket: each callback is copied before the
  // call and nothing of the socket is touched once it is gone.
  std::weak_ptr<bool> alive = alive_;
  for (const TPending& e : events) {
    if (alive.expired() || closedLocally_ || aborted_) return;
    switch (e.Kind) {
      case TEvent::Data:
        for (;;) {
          const int before = BytesAvailable();
          if (before == 0 || !OnDataAvailable) break;
          auto handler = OnDataAvailable;
          handler(e.Error);
          if (alive.expired() || closedLocally_ || aborted_ || BytesAvailable() >= before) break;
        }
        break;
      case TEvent::State:
        if (auto handler = OnStateChange) handler(e.Old, e.New);
        break;
      case TEvent::Connected:
        if (auto handler = OnConnected) handler(e.Error);
        break;
      case TEvent::Closed:
        if (auto handler = OnClosed) handler(e.Error);
        break;
    }
  }
}

}  // namespace OrlaqLidar
