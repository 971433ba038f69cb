#include "Platform/FakeSocketFactory.h"

#include <algorithm>

namespace OrlaqLidar {

TFakeSocketFactory::~TFakeSocketFactory() {
  // Sockets outliving the factory must not call back into it.
  for (TFakeTcpSocket* s : live_) s->factory_ = nullptr;
}

std::unique_ptr<TTcpSocket> TFakeSocketFactory::CreateClient(const std::string& host, uint16_t port) {
  if (FailCreate) return nullptr;
  auto socket = std::make_unique<TFakeTcpSocket>(this, host, port);
  live_.push_back(socket.get());
  ++created_;
  return socket;
}

void TFakeSocketFactory::Forget(TFakeTcpSocket* socket) {
  live_.erase(std::remove(live_.begin(), live_.end(), socket), live_.end());
}

}  // namespace OrlaqLidar
