#pragma once
// Factory of in-process sockets for tests; keeps track of the sockets alive.
#include <memory>
#include <string>
#include <vector>

#include "Platform/FakeTcpSocket.h"
#include "Platform/SocketFactory.h"

namespace OrlaqLidar {

class TFakeSocketFactory : public TSocketFactory {
 public:
  ~TFakeSocketFactory() override;
  std::unique_ptr<TTcpSocket> CreateClient(const std::string& host, uint16_t port) override;

  // The most recently created socket still alive, or null.
  TFakeTcpSocket* Last() const { return live_.empty() ? nullptr : live_.back(); }
  int Created() const { return created_; }
  int LiveCount() const { return static_cast<int>(live_.size()); }
  // CreateClient gives no socket.
  bool FailCreate = false;

 private:
  friend class TFakeTcpSocket;
  void Forget(TFakeTcpSocket* socket);

  std::vector<TFakeTcpSocket*> live_;
  int created_ = 0;
};

}  // namespace OrlaqLidar
