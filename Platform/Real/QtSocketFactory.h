#pragma once
// Creates Qt Network client sockets; needs a Q*Application on this thread.
#include "Platform/SocketFactory.h"

namespace OrlaqLidar {

class TQtSocketFactory : public TSocketFactory {
 public:
  std::unique_ptr<TTcpSocket> CreateClient(const std::string& host, uint16_t port) override;
};

}  // namespace OrlaqLidar
