#pragma once
// In-process TCP socket for tests: the test plays the far side (accepts or
// refuses the connection, feeds bytes, closes) and reads what the program
// sent. Events go through Services().Loop like those of the real socket, so
// the test runs them with Loop.ProcessPosted(); without a loop they are
// raised at once.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/TcpSocket.h"

namespace OrlaqLidar {

class TFakeSocketFactory;

class TFakeTcpSocket : public TTcpSocket {
 public:
  TFakeTcpSocket(TFakeSocketFactory* factory, std::string host, uint16_t port);
  ~TFakeTcpSocket() override;
  TFakeTcpSocket(const TFakeTcpSocket&) = delete;
  TFakeTcpSocket& operator=(const TFakeTcpSocket&) = delete;

  bool Connect() override;
  TSocketState State() const override { return state_; }
  int BytesAvailable() const override { return static_cast<int>(inbound_.size()); }
  int Receive(uint8_t* buffer, int size) override;
  int Send(const uint8_t* data, int length) override;
  void Close() override;
  void Abort() override;

  // The far side.
  void AcceptConnection();
  void RefuseConnection(int error = ErrRefused);
  void Feed(const std::vector<uint8_t>& bytes);
  void Feed(std::string_view bytes);
  void RemoteClose(int error = 0);

  const std::string& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  int ConnectCalls() const { return connectCalls_; }
  bool ClosedLocally() const { return closedLocally_; }
  bool Aborted() const { return aborted_; }
  std::vector<uint8_t> Sent;
  // Connect refuses to start (no resources, bad address).
  bool FailConnect = false;
  // Receive copies at most this many bytes per call (0: no limit).
  int ReceiveLimit = 0;

 private:
  friend class TFakeSocketFactory;
  enum class TEvent { Data, State, Connected, Closed };
  struct TPending {
    TEvent Kind;
    int Error;
    TSocketState Old, New;
  };
  void Raise(std::vector<TPending> events);
  void Deliver(const std::vector<TPending>& events);
  void Move(TSocketState next, std::vector<TPending>& events);

  TFakeSocketFactory* factory_;
  std::string host_;
  uint16_t port_;
  TSocketState state_ = TSocketState::Opened;
  std::vector<uint8_t> inbound_;
  int connectCalls_ = 0;
  bool closedLocally_ = false;
  bool aborted_ = false;
  // Events posted for a socket destroyed meanwhile are dropped.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace OrlaqLidar
