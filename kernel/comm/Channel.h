#pragma once
// An instrument channel: one USB device, a protocol and a receive buffer. It
// runs the connection state machine (open, retry once a second, close,
// re-open after loss), writes query frames and publishes traces and decoded
// answers to its owner. Lidar and monitoring channels derive from it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ChannelConfig.h"
#include "kernel/comm/FtdiUSB.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TProtocol;

class TChannel {
 public:
  using TDataEvent = std::function<void(TChannel* channel, const uint8_t* data, int length, TDateTime time)>;
  using TTraceEvent =
      std::function<void(const std::string& source, char kind, const uint8_t* data, int length, TDateTime time)>;

  // Trace kinds.
  static constexpr char TraceSystem = 'S';
  static constexpr char TraceSent = '>';
  static constexpr char TraceReceived = '<';

  // Channel error codes.
  static constexpr uint32_t ErrProtocol = 0x80000001;
  static constexpr uint32_t ErrUsb = 0x80000002;
  // Top bit of every error a component sets itself.
  static constexpr uint32_t ErrorFlag = 0x80000000;

  static constexpr uint64_t FirstOpenDelayMs = 3000;
  static constexpr uint64_t OpenRetryMs = 1000;

  // bufferLength 0 takes BufferLength of the configuration.
  TChannel(const TChannelConfig& config, int bufferLength);
  virtual ~TChannel();
  TChannel(const TChannel&) = delete;
  TChannel& operator=(const TChannel&) = delete;

  virtual bool AskData() = 0;
  virtual void CheckTimeOut(TDateTime now);
  virtual void KeepAlive(TDateTime now);
  virtual void Update();
  virtual void ReceiveData(TFtdiUSB* sender, int count) = 0;
  virtual void DeviceDisconnected(TFtdiUSB* sender);
  virtual void DeviceStatusChanged(TStatus* status, TState::ChangeRaison reason);
  virtual void ProtocolStatusChanged(TStatus* status, TState::ChangeRaison reason);
  virtual TStatus* GetStatus();
  virtual uint8_t GetConnectState();
  // wanted > 2 asks for the connection, wanted < 3 for the disconnection.
  virtual void SetConnectState(uint8_t wanted);
  virtual void Open();
  virtual void Close();
  virtual void Connect();
  virtual void Disconnect();
  virtual uint8_t GetPowerState();
  virtual void Retry(bool again) = 0;
  virtual bool Purge();
  virtual int Write(const uint8_t* data, int length);
  virtual void TraceData(char kind, const uint8_t* data, int length);
  virtual void Trace(char kind, const std::string& text);
  virtual void TraceStatus(char kind, const std::string& text);
  virtual void TraceStatusData(char kind, const uint8_t* data, int length);
  virtual bool ReadSerialNumber();
  virtual void OpenDevice() = 0;
  virtual void CloseDevice();

  TDataEvent OnData;
  TTraceEvent OnTrace;
  // When set, asked before each device open; false: the next update tries
  // again. The owner of many channels spreads their opens with it.
  std::function<bool()> OpenGate;

  static constexpr uint32_t ErrTimeOut = 0x80000005;

  // Read access for owners, views and tests.
  TFtdiUSB* Usb() const { return usb_.get(); }
  TStatus& LinkStatus() { return linkStatus_; }
  const TChannelConfig& Config() const { return *config_; }
  TProtocol* Protocol() const { return protocol_.get(); }
  int Pending() const { return pending_; }
  TDateTime LastRequestTime() const { return lastRequestTime_; }
  int BufferLength() const { return bufferLength_; }
  const std::string& SerialNumber() const { return serialNumber_; }
  const std::string& Version() const { return version_; }
  const TListStatus& ChildStatuses() const { return childStatuses_; }

 protected:
  static TDateTime Now();
  static uint64_t Tick();
  // Puts the USB error of a write that fell short into the link status.
  void ReportWriteFailure();

  // The first query of a link that has just come up (version, ping).
  virtual bool Greet() { return false; }
  // The base step, then the greeting of a link still waiting for its first
  // answer; re-entry through status notices is ignored.
  void UpdateAndGreet();

  // Raises "Error time out" once TimeOut ms have passed since the query
  // written at sinceTick (monotonic ms, the member the channel updates for
  // every query); the query itself stays pending. An answer already
  // received is read first.
  void CheckAnswerTimeOut(const uint64_t& sinceTick);

  int pending_ = 0;
  TDateTime lastRequestTime_ = 0;
  std::unique_ptr<TProtocol> protocol_;  // created by the subclass
  TStatus status_;
  TListStatus childStatuses_;
  std::unique_ptr<TFtdiUSB> usb_;
  TStatus linkStatus_;
  int bufferLength_;
  std::vector<uint8_t> receiveBuffer_;
  int updateDepth_ = 0;
  uint64_t nextOpenTick_;  // monotonic ms (Services().Clock->TickMs())
  std::string serialNumber_;
  const TChannelConfig* config_;
  std::string version_;

 private:
  // Error code of the USB link for a USB error (0 stays 0, others get the top bit).
  uint32_t LinkErrorOf(int usbError) const;

  bool greeting_ = false;
  bool opening_ = false;  // Open/Close run once at a time even when status
  bool closing_ = false;  // notices lead back into Update
};

}  // namespace OrlaqLidar
