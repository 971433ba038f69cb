#include "Platform/Real/QtSocketFactory.h"

#include "Platform/Real/QtTcpSocket.h"

namespace OrlaqLidar {

std::unique_ptr<TTcpSocket> TQtSocketFactory::CreateClient(const std::string& host, uint16_t port) {
  return std::make_unique<TQtTcpSocket>(host, port);
}

}  // namespace OrlaqLidar
