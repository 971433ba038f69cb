#pragma once
// A TCP client socket of the platform. Every event is raised from the main
// loop, never from inside a call made on the socket, and a handler may
// destroy the socket it is called for. Close and Abort are the owner's own
// doing: no event follows them.
#include <cstdint>
#include <functional>
#include <string>

namespace OrlaqLidar {

enum class TSocketState : uint8_t { Invalid, Opened, Connecting, Connected, Closed };

class TTcpSocket {
 public:
  using TErrorEvent = std::function<void(int error)>;
  using TStateEvent = std::function<void(TSocketState oldState, TSocketState newState)>;

  // Error codes passed with the events; 0 is none.
  static constexpr int ErrRefused = 1;
  static constexpr int ErrHostNotFound = 2;
  static constexpr int ErrTimeout = 3;
  static constexpr int ErrNetwork = 4;
  static constexpr int ErrOther = 5;

  virtual ~TTcpSocket() = default;

  // Starts connecting to the address the socket was created for; true
  // when the attempt is under way (or the socket is already connected).
  virtual bool Connect() = 0;
  virtual TSocketState State() const = 0;
  // Bytes received and not read yet.
  virtual int BytesAvailable() const = 0;
  // Copies up to size waiting bytes; never waits. -1 on error.
  virtual int Receive(uint8_t* buffer, int size) = 0;
  // Bytes accepted for sending, -1 when not connected or on error.
  virtual int Send(const uint8_t* data, int length) = 0;
  // Graceful close (pending output is still sent) and hard reset.
  virtual void Close() = 0;
  virtual void Abort() = 0;

  static std::string ErrorText(int error) {
    switch (error) {
      case 0: return "OK";
      case ErrRefused: return "Connection refused";
      case ErrHostNotFound: return "Host not found";
      case ErrTimeout: return "Connection timed out";
      case ErrNetwork: return "Network error";
      default: return "Socket error";
    }
  }

  void UnhookEvents() {
    OnDataAvailable = nullptr;
    OnStateChange = nullptr;
    OnConnected = nullptr;
    OnClosed = nullptr;
  }

  // Raised while unread bytes remain and the handler keeps reading them.
  TErrorEvent OnDataAvailable;
  TStateEvent OnStateChange;
  // The connection attempt ended: error 0 connected, otherwise it failed.
  TErrorEvent OnConnected;
  // An established connection ended from the far side or the network.
  TErrorEvent OnClosed;
};

}  // namespace OrlaqLidar
