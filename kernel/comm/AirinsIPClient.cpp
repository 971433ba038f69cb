#include "kernel/comm/AirinsIPClient.h"

#include <algorithm>

namespace OrlaqLidar {

TAirinsIPClient::TAirinsIPClient() : Status("Airins Link", "Disconnected") { Status.ChangeMask = TState::Connect; }

void TAirinsIPClient::DataAvailable(int error) {
  lastError_ = error;
  if (!socket_) return;
  const int n = std::min(socket_->BytesAvailable(), BufferSize);
  if (n < 1) return;
  const int got = socket_->Receive(buffer_.data(), n);
  if (got == n && OnData) OnData(this, buffer_.data(), n);
}

void TAirinsIPClient::ChangeState(TSocketState oldState, TSocketState newState) {
  previousState_ = oldState;
  currentState_ = newState;
  if (newState == TSocketState::Closed || newState == TSocketState::Invalid) {
    Status.Text = TStatus::ConnectText(TState::Disconnected);
    Status.SetConnectState(TState::Disconnected);
  } else if (newState == TSocketState::Connected) {
    Status.Text = TStatus::ConnectText(TState::Connected);
    Status.SetConnectState(TState::Connected);
  }
}

void TAirinsIPClient::SocketConnected(int error) {
  lastError_ = error;
  if (error == 0)
    TIPClient::SocketConnected(error);
  else if (OnConnectFailed)
    OnConnectFailed(this, error);
}

void TAirinsIPClient::SocketClosed(int error) {
  lastError_ = error;
  previousState_ = currentState_;
  currentState_ = TSocketState::Closed;
  ChangeState(previousState_, TSocketState::Closed);
  TIPClient::SocketClosed(error);
}

void TAirinsIPClient::LocalEnd() {
  if (currentState_ != TSocketState::Closed) ChangeState(currentState_, TSocketState::Closed);
}

bool TAirinsIPClient::Close() {
  TIPClient::Close();
  LocalEnd();
  return true;
}

bool TAirinsIPClient::Abort() {
  TIPClient::Abort();
  LocalEnd();
  return true;
}

}  // namespace OrlaqLidar
