#pragma once
// Creates the TCP client sockets; Services().Sockets points to the one in use.
#include <cstdint>
#include <memory>
#include <string>

#include "Platform/TcpSocket.h"

namespace OrlaqLidar {

class TSocketFactory {
 public:
  virtual ~TSocketFactory() = default;
  // A socket for host (name or address) and port, not connected yet; null
  // when the platform cannot give one.
  virtual std::unique_ptr<TTcpSocket> CreateClient(const std::string& host, uint16_t port) = 0;
};

}  // namespace OrlaqLidar
