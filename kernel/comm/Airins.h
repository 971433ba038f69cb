#pragma once
// The INS data source: a TCP client and the INS framing turn the unit's
// stream into 35-byte navigation records for the acquisition source, which
// owns it. Keeps the status "Airins" and watches for a data time-out.
// Reconnection is the owner's decision: Connect may be called again at any
// time and acts only while the link is down.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "Common/DateTime.h"
#include "Config/AirinsConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/comm/AirinsIPClient.h"
#include "kernel/comm/AirinsProtocol.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TAirins {
 public:
  using TDataEvent = std::function<void(int recordId, const uint8_t* data, int length, TDateTime time)>;
  using TTraceEvent = TAirinsProtocol::TTraceEvent;

  static constexpr uint32_t ErrTimeOut = 0x80000005;
  static constexpr uint8_t AcqIdle = 3;
  static constexpr uint8_t AcqFlowing = 9;
  static constexpr uint64_t ConnectTimeOutMs = 5000;

  // config: RecordID and TimeOut of the INS; setup: AirinsAddr and
  // AirinsPort. Both belong to the owner and must outlive this object.
  TAirins(const TAirinsConfig& config, const TLidarSetup& setup);
  virtual ~TAirins();
  TAirins(const TAirins&) = delete;
  TAirins& operator=(const TAirins&) = delete;

  // Takes the unit's address from the setup; false when it is incomplete.
  bool Init();
  bool Connect();
  void Disconnect();
  // Raises the time-out error when the link has been up for TimeOut ms
  // without a record, and gives up a connection attempt that has not come
  // through within ConnectTimeOutMs. Measured on the monotonic clock; now
  // is not needed.
  void CheckTimeOut(TDateTime now = 0);
  // "host:port" of the unit, as the client uses it.
  std::string Address() const;
  int GetRecordID() const { return config_.RecordID; }

  TAirinsIPClient& Client() { return client_; }
  TAirinsProtocol& Protocol() { return protocol_; }
  // When a record last arrived or the link came up (UTC).
  TDateTime LastDataTime() const { return lastDataTime_; }

  TStatus Status;
  TDataEvent OnData;
  TTraceEvent OnTrace;

 private:
  void ClientConnected(TIPClient* client);
  void ClientDisconnected(TIPClient* client);
  // An attempt that ended without a connection: logged with its reason,
  // and the link is down again so that the owner may try anew.
  void ConnectFailed(const std::string& reason);
  void ClientData(TIPClient* client, const uint8_t* data, int length);
  void ProtocolStatusChanged(TStatus* status, TState::ChangeRaison reason);
  // Text and error from the protocol when it has an error, else from the
  // connect state.
  void ShowLinkState();
  void Trace(char kind, const uint8_t* data, int length, TDateTime time);

  const TAirinsConfig& config_;
  const TLidarSetup& setup_;
  TAirinsProtocol protocol_;
  TAirinsIPClient client_;
  TListStatus childStatuses_;  // the link's and the framing's, for the status window
  TDateTime lastDataTime_ = 0;
  uint64_t lastDataTick_ = 0;
  bool timedOut_ = false;
  uint64_t connectTick_ = 0;  // when the current attempt started
  bool failureLogged_ = false;
};

}  // namespace OrlaqLidar
