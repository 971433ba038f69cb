#include "kernel/comm/IPClient.h"

#include <vector>

#include "Common/StringUtils.h"
#include "Platform/Services.h"
#include "Platform/SocketFactory.h"

namespace OrlaqLidar {

TIPClient::~TIPClient() { ReleaseSocket(); }

void TIPClient::ReleaseSocket() {
  if (!socket_) return;
  socket_->UnhookEvents();
  socket_.reset();
}

void TIPClient::DataAvailable(int) {
  if (!socket_) return;
  const int waiting = socket_->BytesAvailable();
  if (waiting <= 0) return;
  std::vector<uint8_t> buffer(static_cast<size_t>(waiting) + 16);
  const int n = socket_->Receive(buffer.data(), static_cast<int>(buffer.size()));
  if (n > 0 && OnData) OnData(this, buffer.data(), n);
}

void TIPClient::ChangeState(TSocketState, TSocketState) {}

void TIPClient::SocketConnected(int) {
  if (OnConnected) OnConnected(this);
}

void TIPClient::SocketClosed(int) {
  ReleaseSocket();
  if (OnDisconnected) OnDisconnected(this);
}

std::string TIPClient::DefaultPort() const { return ""; }

bool TIPClient::SetAddress(const std::string& host, const std::string& port) {
  host_ = LowerCase(Trim(host));
  port_ = LowerCase(Trim(port));
  if (port_.empty()) port_ = DefaultPort();
  return !host_.empty() && !port_.empty();
}

bool TIPClient::SetAddressText(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return SetAddress(text, "");
  return SetAddress(text.substr(0, colon), text.substr(colon + 1));
}

bool TIPClient::Connect() {
  ReleaseSocket();
  if (host_.empty() || port_.empty()) return false;
  const auto port = TryParseInt(port_);
  if (!port || *port < 1 || *port > 65535) return false;
  TSocketFactory* factory = Services().Sockets;
  if (!factory) return false;
  socket_ = factory->CreateClient(host_, static_cast<uint16_t>(*port));
  if (!socket_) return false;
  socket_->OnDataAvailable = [this](int error) { DataAvailable(error); };
  socket_->OnStateChange = [this](TSocketState o, TSocketState n) { ChangeState(o, n); };
  socket_->OnConnected = [this](int error) { SocketConnected(error); };
  socket_->OnClosed = [this](int error) { SocketClosed(error); };
  if (!socket_->Connect()) {
    ReleaseSocket();
    return false;
  }
  return IsConnecting() || IsConnected();
}

bool TIPClient::Close() {
  if (socket_) socket_->Close();
  return true;
}

bool TIPClient::Abort() {
  if (socket_) socket_->Abort();
  return true;
}

int TIPClient::Send(const uint8_t* data, int length) {
  if (!IsConnected()) return -1;
  return socket_->Send(data, length);
}

bool TIPClient::SendText(const std::string& text) {
  const int n = Send(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
  return n == static_cast<int>(text.size());
}

bool TIPClient::IsConnected() const { return socket_ && socket_->State() == TSocketState::Connected; }

bool TIPClient::IsConnecting() const {
  if (!socket_) return false;
  const TSocketState s = socket_->State();
  return s == TSocketState::Opened || s == TSocketState::Connecting;
}

}  // namespace OrlaqLidar
