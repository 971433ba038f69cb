#include "kernel/comm/Channel.h"

#include <algorithm>
#include <exception>

#include "Platform/Services.h"
#include "kernel/comm/Protocol.h"

namespace OrlaqLidar {

namespace {
// Errors of the link that are part of normal operation (device unplugged,
// not attached yet, reader slow to start): they retry quietly instead of
// raising "USB error" on the channel.
constexpr uint32_t LinkErrQueueIo = 0x80000194;
constexpr uint32_t LinkErrNoDevice = 0x80000258;
constexpr uint32_t LinkErrNotReady = 0x80000320;

}  // namespace

TChannel::TChannel(const TChannelConfig& config, int bufferLength)
    : status_("Channel " + config.USBDescriptor, "Disconnected"),
      usb_(std::make_unique<TFtdiUSB>()),
      linkStatus_(config.USBDescriptor, "Disconnected"),
      bufferLength_(bufferLength != 0 ? bufferLength : config.BufferLength),
      nextOpenTick_(Tick() + FirstOpenDelayMs),
      config_(&config) {
  if (bufferLength_ < 0) bufferLength_ = 0;
  receiveBuffer_.assign(static_cast<size_t>(bufferLength_), 0);
  status_.ChangeMask = TState::Connect | TState::Error | TState::AcqState;
  if (config.HasLaserCmd > 0) status_.ChangeMask |= TState::Power;
  linkStatus_.ChangeMask = TState::Connect | TState::Error;
  status_.Children = &childStatuses_;

  usb_->DeviceDescription = config.USBDescriptor;
  // Room for the largest answer with some to spare.
  usb_->SetBufferSize(static_cast<int>(static_cast<int64_t>(bufferLength_) * 11 / 10));
  usb_->OnReceiveData = [this](TFtdiUSB* sender, int count) { ReceiveData(sender, count); };
  usb_->OnDisconnect = [this](TFtdiUSB* sender) { DeviceDisconnected(sender); };
  linkStatus_.OnChange = [this](TStatus* s, TState::ChangeRaison r) { DeviceStatusChanged(s, r); };
  childStatuses_.push_back(&linkStatus_);
  status_.SetAcqState(3);
}

TChannel::~TChannel() {
  usb_->OnReceiveData = nullptr;
  usb_->OnDisconnect = nullptr;
  linkStatus_.OnChange = nullptr;
  if (protocol_) protocol_->Status.OnChange = nullptr;
  protocol_.reset();
  childStatuses_.clear();
  status_.Children = nullptr;
  usb_.reset();
}

TDateTime TChannel::Now() { return Services().Clock->NowUTC(); }

uint64_t TChannel::Tick() { return Services().Clock->TickMs(); }

void TChannel::ReportWriteFailure() {
  const int err = usb_ ? usb_->LastError() : 0;
  linkStatus_.Text = TFtdiUSB::FtdiErrorStr(err);
  linkStatus_.SetError(err != 0 ? static_cast<uint32_t>(err) | ErrorFlag : 0);
}

uint32_t TChannel::LinkErrorOf(int usbError) const {
  return usbError != 0 ? static_cast<uint32_t>(usbError) | ErrorFlag : 0;
}

void TChannel::CheckTimeOut(TDateTime) { Update(); }

void TChannel::KeepAlive(TDateTime) {}

void TChannel::Update() {
  if (updateDepth_ > 0) return;
  ++updateDepth_;
  try {
    Connect();
    Disconnect();
  } catch (...) {
    --updateDepth_;
    throw;
  }
  --updateDepth_;
}

void TChannel::UpdateAndGreet() {
  if (greeting_) return;
  greeting_ = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{greeting_};
  TChannel::Update();
  if (status_.ConnectState() == TState::Connecting && status_.AcqState() == 3) Greet();
}

void TChannel::SetConnectState(uint8_t wanted) {
  if (wanted > 2 && status_.ConnectState() < 3) {
    status_.SetError(0);
    status_.SetConnectState(3);
    Connect();
  } else if (wanted < 3 && status_.ConnectState() > 2) {
    status_.SetError(0);
    status_.SetConnectState(1);
    Disconnect();
  }
}

void TChannel::Connect() {
  if (status_.ConnectState() >= 3 && linkStatus_.ConnectState() == 2) {
    linkStatus_.SetError(0);
    linkStatus_.SetConnectState(3);
  }
  Open();
}

void TChannel::Disconnect() {
  if (status_.ConnectState() < 3 && linkStatus_.ConnectState() >= 3) {
    linkStatus_.SetError(0);
    linkStatus_.SetConnectState(1);
  }
  Close();
  // A link that was already closed never leaves state 4 again: the channel
  // would wait for that forever.
  if (status_.ConnectState() == 1 && linkStatus_.ConnectState() == 2) status_.SetConnectState(2);
}

void TChannel::Open() {
  if (!usb_ || opening_ || linkStatus_.ConnectState() != 3 || Tick() < nextOpenTick_) return;
  if (OpenGate && !OpenGate()) return;
  opening_ = true;
  nextOpenTick_ = Tick() + OpenRetryMs;
  status_.SetError(0);
  try {
    OpenDevice();
    Trace(TraceSystem, "Open");
  } catch (const std::exception&) {
    // The failure is in the USB last error; reported below.
  }
  if (usb_->Connected()) {
    pending_ = 0;
    ReadSerialNumber();
    Trace(TraceSystem, "Connected to " + serialNumber_);
    linkStatus_.Text = "OK";
    linkStatus_.SetError(0);
    linkStatus_.SetConnectState(4);
    status_.SetAcqState(3);
  } else {
    const int err = usb_->LastError();
    linkStatus_.Text = err != 0 ? TFtdiUSB::FtdiErrorStr(err) : "OK";
    linkStatus_.SetConnectState(3);
    status_.SetAcqState(1);
    linkStatus_.SetError(LinkErrorOf(err));
    Trace(TraceSystem, "WaitConnect " + linkStatus_.Text);
  }
  opening_ = false;
}

void TChannel::Close() {
  if (!usb_ || closing_ || linkStatus_.ConnectState() != 1) return;
  closing_ = true;
  status_.SetError(0);
  try {
    CloseDevice();
    Trace(TraceSystem, "Close");
  } catch (const std::exception&) {
  }
  if (usb_->Connected()) {
    linkStatus_.SetConnectState(1);
    status_.SetAcqState(1);
    const int err = usb_->LastError();
    if (err != 0) {
      linkStatus_.Text = TFtdiUSB::FtdiErrorStr(err);
      Trace(TraceSystem, "WaitDisconnect " + linkStatus_.Text);
      linkStatus_.SetError(LinkErrorOf(err));
    }
  } else {
    pending_ = 0;
    serialNumber_.clear();
    Trace(TraceSystem, "Disconnect");
    linkStatus_.Text = "Disconnected";
    linkStatus_.SetError(0);
    status_.SetAcqState(3);
    linkStatus_.SetConnectState(2);
  }
  closing_ = false;
}

void TChannel::DeviceDisconnected(TFtdiUSB*) {
  const int err = usb_ ? usb_->LastError() : 0;
  linkStatus_.Text = err != 0 ? TFtdiUSB::FtdiErrorStr(err) : "OK";
  linkStatus_.SetError(LinkErrorOf(err));
  Trace(TraceSystem, "Disconnected " + linkStatus_.Text);
  linkStatus_.SetConnectState(1);
}

void TChannel::DeviceStatusChanged(TStatus*, TState::ChangeRaison reason) {
  if (reason & TState::Connect) {
    if (linkStatus_.ConnectState() < 4) {
      if (status_.ConnectState() >= 4)
        status_.SetConnectState(3);
      else if (status_.ConnectState() == 1)
        status_.SetConnectState(2);
    }
  }
  if ((reason & TState::Error) && linkStatus_.Error() != 0) {
    const uint32_t err = linkStatus_.Error();
    if (err != LinkErrQueueIo && err != LinkErrNoDevice && err != LinkErrNotReady) {
      status_.Text = "USB error";
      status_.SetError(ErrUsb);
      status_.SetAcqState(3);
    }
    Trace(TraceSystem, "Changed " + linkStatus_.Text);
  }
  Update();
}

void TChannel::ProtocolStatusChanged(TStatus* status, TState::ChangeRaison) {
  if (status && status->Error() != 0) {
    status_.Text = "Protocol error";
    status_.SetError(ErrProtocol);
    TraceStatus(TraceReceived, "Protocol error:" + status->Text);
  }
  Update();
}

TStatus* TChannel::GetStatus() { return &status_; }

uint8_t TChannel::GetConnectState() { return status_.ConnectState(); }

uint8_t TChannel::GetPowerState() { return status_.PowerState(); }

bool TChannel::Purge() { return usb_ && usb_->Purge(); }

int TChannel::Write(const uint8_t* data, int length) {
  const int written = usb_ ? usb_->Write(data, length) : 0;
  TraceData(TraceSent, data, length);
  return written;
}

void TChannel::TraceData(char kind, const uint8_t* data, int length) {
  if (OnTrace) OnTrace(usb_ ? usb_->DeviceDescription : config_->USBDescriptor, kind, data, length, Now());
}

void TChannel::Trace(char kind, const std::string& text) {
  TraceData(kind, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

void TChannel::TraceStatus(char kind, const std::string& text) {
  TraceStatusData(kind, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
}

void TChannel::TraceStatusData(char kind, const uint8_t* data, int length) {
  if (OnTrace) OnTrace(status_.Name, kind, data, length, Now());
}

bool TChannel::ReadSerialNumber() {
  serialNumber_ = usb_ ? usb_->DeviceSerialNumber() : std::string();
  return !serialNumber_.empty();
}

void TChannel::CloseDevice() {
  if (usb_) usb_->Close();
}

void TChannel::CheckAnswerTimeOut(const uint64_t& sinceTick) {
  const uint64_t timeOut = static_cast<uint64_t>(std::max(config_->TimeOut, 0));
  if (Tick() < sinceTick + timeOut) return;
  // The answer may have come in time and only wait for a main loop that was
  // busy: it is read before the query counts as lost.
  const uint8_t waitingState = status_.AcqState();
  const uint64_t queryTick = sinceTick;
  const int available = usb_ && usb_->Connected() ? usb_->AvailableBytes() : 0;
  if (available > 0) {
    ReceiveData(usb_.get(), std::min(available, bufferLength_));
    // Answered, or answered and asked again.
    if (status_.AcqState() != waitingState || sinceTick != queryTick) return;
  }
  status_.Text = "Error time out";
  TraceStatus(TraceReceived, status_.Text);
  status_.SetError(ErrTimeOut);
}

}  // namespace OrlaqLidar
