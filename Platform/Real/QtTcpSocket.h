#pragma once
// TCP client socket on Qt Network. The signals of the QTcpSocket reach this
// object through queued connections, so every event is raised from the
// event loop, never from inside a call made on the socket, and a handler
// may destroy the socket.
#include <QAbstractSocket>
#include <QObject>
#include <QTcpSocket>
#include <memory>
#include <string>

#include "Platform/TcpSocket.h"

namespace OrlaqLidar {

class TQtTcpSocket : public TTcpSocket {
 public:
  TQtTcpSocket(std::string host, uint16_t port);
  ~TQtTcpSocket() override;
  TQtTcpSocket(const TQtTcpSocket&) = delete;
  TQtTcpSocket& operator=(const TQtTcpSocket&) = delete;

  bool Connect() override;
  TSocketState State() const override;
  int BytesAvailable() const override;
  int Receive(uint8_t* buffer, int size) override;
  int Send(const uint8_t* data, int length) override;
  void Close() override;
  void Abort() override;

  static int ErrorCode(QAbstractSocket::SocketError error);

 private:
  void StateChanged(QAbstractSocket::SocketState qtState);
  void ReadyRead();
  bool Silenced() const { return closedLocally_; }

  std::string host_;
  uint16_t port_;
  std::unique_ptr<QTcpSocket> socket_;
  // Receiver of the queued connections: its end drops them and any event
  // still queued for this socket.
  std::unique_ptr<QObject> context_;
  TSocketState reported_ = TSocketState::Opened;
  bool started_ = false;
  bool closedLocally_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace OrlaqLidar
