#pragma once
// A TCP client over the platform's socket facility: keeps the address,
// creates a fresh socket on every Connect and turns the socket's events
// into its own (data, connected, disconnected).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/TcpSocket.h"

namespace OrlaqLidar {

class TIPClient {
 public:
  using TDataEvent = std::function<void(TIPClient* client, const uint8_t* data, int length)>;
  using TClientEvent = std::function<void(TIPClient* client)>;
  using TErrorEvent = std::function<void(TIPClient* client, int error)>;

  TIPClient() = default;
  virtual ~TIPClient();
  TIPClient(const TIPClient&) = delete;
  TIPClient& operator=(const TIPClient&) = delete;

  // Handlers of the socket's events.
  virtual void DataAvailable(int error);
  virtual void ChangeState(TSocketState oldState, TSocketState newState);
  virtual void SocketConnected(int error);
  virtual void SocketClosed(int error);

  // Port used when the address names none; empty here.
  virtual std::string DefaultPort() const;
  // Both trimmed and lower-cased; true when host and port are set.
  virtual bool SetAddress(const std::string& host, const std::string& port);
  // "host:port", or a host alone.
  virtual bool SetAddressText(const std::string& text);
  // Drops the previous socket and starts connecting a new one; true when the
  // attempt is under way.
  virtual bool Connect();
  virtual bool Close();
  virtual bool Abort();
  // Bytes sent, -1 unless connected.
  virtual int Send(const uint8_t* data, int length);
  virtual bool SendText(const std::string& text);
  virtual bool IsConnected() const;
  virtual bool IsConnecting() const;

  const std::string& Host() const { return host_; }
  const std::string& Port() const { return port_; }
  // The socket of the current attempt, or null.
  TTcpSocket* Socket() const { return socket_.get(); }

  TDataEvent OnData;
  TClientEvent OnConnected;
  TClientEvent OnDisconnected;
  // A connection attempt that ended without a connection (refused, host
  // unknown, ...), with the socket's error; raised by clients that tell it
  // apart from OnConnected.
  TErrorEvent OnConnectFailed;

 protected:
  void ReleaseSocket();

  std::unique_ptr<TTcpSocket> socket_;
  std::string host_;
  std::string port_;
};

}  // namespace OrlaqLidar
