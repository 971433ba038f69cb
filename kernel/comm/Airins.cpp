#include "kernel/comm/Airins.h"

#include <exception>

#include "kernel/ErrorLogger.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

TAirins::TAirins(const TAirinsConfig& config, const TLidarSetup& setup)
    : Status("Airins", "Disconnected"), config_(config), setup_(setup) {
  Status.ChangeMask = TState::Connect | TState::Error | TState::AcqState;
  Status.SetAcqState(AcqIdle);
  childStatuses_ = {&client_.Status, &protocol_.Status};
  Status.Children = &childStatuses_;
  protocol_.OnTrace = [this](const std::string& source, char kind, const uint8_t* data, int length,
                             TDateTime time) {
    if (OnTrace) OnTrace(source, kind, data, length, time);
  };
  protocol_.Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { ProtocolStatusChanged(s, r); };
  client_.OnData = [this](TIPClient* c, const uint8_t* data, int length) { ClientData(c, data, length); };
  client_.OnConnected = [this](TIPClient* c) { ClientConnected(c); };
  client_.OnDisconnected = [this](TIPClient* c) { ClientDisconnected(c); };
  client_.OnConnectFailed = [this](TIPClient*, int error) { ConnectFailed(TTcpSocket::ErrorText(error)); };
}

TAirins::~TAirins() {
  Status.Children = nullptr;
  client_.OnData = nullptr;
  client_.OnConnected = nullptr;
  client_.OnDisconnected = nullptr;
  client_.OnConnectFailed = nullptr;
  protocol_.OnTrace = nullptr;
  protocol_.Status.OnChange = nullptr;
}

bool TAirins::Init() { return client_.SetAddress(setup_.AirinsAddr, setup_.AirinsPort); }

std::string TAirins::Address() const { return client_.Host() + ":" + client_.Port(); }

bool TAirins::Connect() {
  if (client_.Status.ConnectState() != TState::Disconnected) return true;
  if (!client_.Connect()) {
    ConnectFailed("the connection could not be started");
    return false;
  }
  connectTick_ = Services().Clock->TickMs();
  Status.SetConnectState(TState::Connecting);
  return true;
}

void TAirins::ConnectFailed(const std::string& reason) {
  Log("INS at " + Address() + " not reached: " + reason);
  failureLogged_ = true;
  Status.Text = "Disconnected";
  Status.SetAcqState(AcqIdle);
  Status.SetConnectState(TState::Disconnected);
}

void TAirins::Disconnect() {
  client_.Close();
  timedOut_ = false;
  Status.Text = "Disconnected";
  Status.SetAcqState(AcqIdle);
  Status.SetConnectState(TState::Disconnected);
  protocol_.Status.SetConnectState(TState::Disconnected);
  ShowLinkState();
}

void TAirins::CheckTimeOut(TDateTime) {
  if (Status.ConnectState() == TState::Connecting &&
      Services().Clock->TickMs() >= connectTick_ + ConnectTimeOutMs) {
    // A unit that never answers leaves the attempt hanging for minutes.
    client_.Abort();
    ConnectFailed(TTcpSocket::ErrorText(TTcpSocket::ErrTimeout));
    return;
  }
  if (Status.ConnectState() != TState::Connected || timedOut_ || config_.TimeOut <= 0) return;
  if (Services().Clock->TickMs() < lastDataTick_ + static_cast<uint64_t>(config_.TimeOut)) return;
  timedOut_ = true;
  Status.Text = "Error time out";
  Status.SetError(ErrTimeOut);
  Status.SetAcqState(AcqIdle);
}

void TAirins::ClientConnected(TIPClient*) {
  if (failureLogged_) Log("INS at " + Address() + " connected");
  failureLogged_ = false;
  Status.Text = "Connected";
  Status.SetConnectState(TState::Connected);
  lastDataTime_ = Services().Clock->NowUTC();
  lastDataTick_ = Services().Clock->TickMs();
  timedOut_ = false;
  // Bytes and errors held from the previous link mean nothing for this one.
  protocol_.Reset();
  protocol_.Status.SetConnectState(TState::Connected);
  ShowLinkState();
}

void TAirins::ClientDisconnected(TIPClient*) {
  timedOut_ = false;
  Status.Text = "Disconnected";
  Status.SetConnectState(TState::Disconnected);
  Status.SetAcqState(AcqIdle);
  protocol_.Status.SetConnectState(TState::Disconnected);
  ShowLinkState();
}

void TAirins::ClientData(TIPClient*, const uint8_t* data, int length) {
  // A socket event boundary: nothing may escape into the event loop.
  try {
    const TDateTime now = Services().Clock->NowUTC();
    Trace('<', data, length, now);
    // Frames often arrive several to a block: every one is passed on, in order.
    int pos = 0;
    while (pos < length) {
      std::array<uint8_t, TAirinsProtocol::RecordSize> record{};
      int used = 0;
      const int n =
          protocol_.ParseRecord(data + pos, length - pos, static_cast<int>(record.size()), record.data(), used);
      if (used <= 0) break;
      pos += used;
      if (n < 1) continue;
      // Only records count as data: a stream of garbage must still time out.
      lastDataTime_ = now;
      lastDataTick_ = Services().Clock->TickMs();
      Status.SetAcqState(AcqFlowing);
      if (timedOut_) {
        timedOut_ = false;
        ShowLinkState();
      }
      Trace('<', record.data(), n, now);
      // One consumer's failure must not cost the records after it.
      try {
        if (OnData) OnData(config_.RecordID, record.data(), n, now);
      } catch (const std::exception& e) {
        SKV_LOG(std::string("Error on Airins data: ") + e.what());
      }
    }
  } catch (const std::exception& e) {
    SKV_LOG(std::string("Error on Airins data: ") + e.what());
  }
}

void TAirins::ProtocolStatusChanged(TStatus*, TState::ChangeRaison) { ShowLinkState(); }

void TAirins::ShowLinkState() {
  if (protocol_.Status.Error() != 0) {
    Status.Text = protocol_.Status.Text;
    Status.SetError(protocol_.Status.Error());
    return;
  }
  if (timedOut_) return;
  Status.Text = Status.ConnectState() == TState::Connected ? "Connected" : "Disconnected";
  Status.SetError(0);
}

void TAirins::Trace(char kind, const uint8_t* data, int length, TDateTime time) {
  if (OnTrace) OnTrace(Status.Name, kind, data, length, time);
}

}  // namespace OrlaqLidar
