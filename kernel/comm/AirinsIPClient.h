#pragma once
// The TCP client of the INS link: reads the stream in blocks of at most 255
// bytes and keeps a status whose connect state follows the socket.
#include <array>
#include <cstdint>

#include "kernel/comm/IPClient.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TAirinsIPClient : public TIPClient {
 public:
  static constexpr int BufferSize = 255;

  TAirinsIPClient();

  void DataAvailable(int error) override;
  void ChangeState(TSocketState oldState, TSocketState newState) override;
  void SocketConnected(int error) override;
  void SocketClosed(int error) override;
  // The socket raises nothing after a local close, so the states and the
  // status are brought to closed here.
  bool Close() override;
  bool Abort() override;

  int LastError() const { return lastError_; }
  TSocketState PreviousState() const { return previousState_; }
  TSocketState CurrentState() const { return currentState_; }

  // Connect state 2 while closed, 4 while connected.
  TStatus Status;

 private:
  void LocalEnd();

  int lastError_ = 0;
  TSocketState previousState_ = TSocketState::Invalid;
  TSocketState currentState_ = TSocketState::Invalid;
  std::array<uint8_t, BufferSize> buffer_{};
};

}  // namespace OrlaqLidar
