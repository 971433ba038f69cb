#include "kernel/LidarAcquisition.h"

#include "Config/ApplicationConfig.h"
#include "Platform/Services.h"
#include "kernel/comm/Airins.h"
#include "kernel/comm/ChannelGroup.h"
#include "kernel/ErrorLogger.h"
#include "kernel/comm/Lidar.h"

namespace OrlaqLidar {

namespace {
constexpr uint32_t SourceError = 0x8000000E;
TDateTime Now() { return Services().Clock->NowUTC(); }
}  // namespace

TLidarAcquisition::TLidarAcquisition(TApplicationConfig* settings, bool forceAirins)
    : TLidarManager(settings, "Lidar Acquisition", false) {
  lidar_ = std::make_unique<TLidar>(&settings->LidarConfig);
  lidar_->Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { OnChildStatus(s, r); };
  lidar_->OnData = [this](int id, const uint8_t* d, int n, TDateTime t) { DispatchRecord(id, d, n, t); };
  lidar_->OnTrace = [this](const std::string& src, int kind, const uint8_t* d, int n, TDateTime t) {
    DispatchTrace(src, kind, d, n, t);
  };
  children_.push_back(&lidar_->Status);
  Status.Children = &children_;

  if (settings->LidarConfig.Airins && (settings->EnableAirins || forceAirins)) {
    airins_ = std::make_unique<TAirins>(settings->LidarConfig.AirinsConfig, settings->Setup);
    airins_->Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { OnChildStatus(s, r); };
    airins_->OnData = [this](int id, const uint8_t* d, int n, TDateTime t) { DispatchRecord(id, d, n, t); };
    airins_->OnTrace = [this](const std::string& src, int kind, const uint8_t* d, int n, TDateTime t) {
      DispatchTrace(src, kind, d, n, t);
    };
    children_.push_back(&airins_->Status);
  }
  autoPower_ = settings->AutoPower;
}

TLidarAcquisition::~TLidarAcquisition() {
  // Unhook before the children go: their last status changes must not come back here.
  if (airins_) {
    airins_->Status.OnChange = nullptr;
    airins_->OnData = nullptr;
    airins_->OnTrace = nullptr;
  }
  lidar_->Status.OnChange = nullptr;
  lidar_->OnData = nullptr;
  lidar_->OnTrace = nullptr;
  airins_.reset();
  lidar_.reset();
  Status.Children = nullptr;
}

bool TLidarAcquisition::Open() {
  const bool built = lidar_->Build();
  if (built && airins_) airins_->Init();
  return built;
}

bool TLidarAcquisition::Close() {
  lidar_->Clear();
  if (airins_) airins_->Disconnect();
  return true;
}

bool TLidarAcquisition::Start() {
  connectionTime_ = Now();
  connectionWanted_ = true;
  connectedOnce_ = false;
  bool ok = lidar_->Connect();
  if (airins_) {
    lastInsAttempt_ = connectionTime_;
    ok = airins_->Connect() && ok;
  }
  if (ok && Status.ConnectState() < TState::Connecting) {
    Status.Text = "Connecting";
    Status.SetConnectState(TState::Connecting);
  }
  return ok;
}

bool TLidarAcquisition::Stop() {
  connectionWanted_ = false;
  lidar_->Disconnect();
  if (airins_) airins_->Disconnect();
  return true;
}

bool TLidarAcquisition::SetPower(bool on) {
  if (on) {
    if (Status.PowerState() > TState::LaserOff) return true;
    autoPower_ = Settings()->AutoPower;
    Status.Text = TStatus::PowerText(TState::WaitingPowerOn);
    Status.SetPowerState(TState::WaitingPowerOn);
    lidar_->SetPowerState(TState::LaserOn);
  } else {
    if (Status.PowerState() == TState::WaitingPowerOff || Status.PowerState() == TState::LaserOff) return true;
    autoPower_ = false;
    Status.Text = TStatus::PowerText(TState::WaitingPowerOff);
    Status.SetPowerState(TState::WaitingPowerOff);
    lidar_->SetPowerState(TState::LaserOff);
  }
  return true;
}

void TLidarAcquisition::OnTimer(TDateTime now) {
  lidar_->Tick(now);
  if (airins_) {
    airins_->CheckTimeOut(now);
    // The INS comes back by itself after a network glitch.
    if (connectionWanted_ && airins_->Status.ConnectState() == TState::Disconnected &&
        ElapsedMs(lastInsAttempt_, now) >= InsRetryMs) {
      lastInsAttempt_ = now;
      airins_->Connect();
    }
  }
  // The instrument clears its error silently once its channels answer again;
  // the source's error ends with it.
  if (Status.Error() != 0 && lidar_->Status.Error() == 0 && (!airins_ || airins_->Status.Error() == 0))
    Status.SetError(0);
  if (Status.ConnectState() == TState::Connected && Status.PowerState() == TState::LaserOff && autoPower_)
    SetPower(true);
}

std::string TLidarAcquisition::GetSerialNumber() { return lidar_ ? lidar_->Version() : std::string(); }

void TLidarAcquisition::OnChildStatus(TStatus* status, TState::ChangeRaison /*reasons*/) {
  const bool isIns = airins_ && status == &airins_->Status;
  const bool insWasUp = insUp_;
  if (status->Error() != 0) {
    Status.Text = Status.Name + " error";
    Status.SetError(SourceError);
  }
  const uint8_t childState = status->ConnectState();
  if (isIns) insUp_ = childState == TState::Connected;
  if (childState == TState::Connected) {
    if (!isIns) {
      const std::string serial = GetSerialNumber();
      if (serial != Settings()->Setup.SerialNumber) Settings()->Setup.SerialNumber = serial;
      Settings()->ReloadCalibrations();
    }
    ShowCombinedConnectState();
  } else if (childState != TState::Connecting) {
    if (isIns && connectedOnce_) {
      // A lost INS must not stop the lidar's acquisition and recording; the
      // link is tried again from the timer (a failed attempt logs itself).
      if (connectionWanted_ && insWasUp) SKV_LOG("INS link lost, acquisition goes on without it");
    } else if (isIns && connectionWanted_) {
      // Not reached yet: tried again from the timer while the source waits.
      ShowCombinedConnectState();
    } else {
      Settings()->Setup.SerialNumber.clear();
      Status.Text = "Disconnected";
      connectionTime_ = Now();
      Status.SetConnectState(TState::Disconnected);
    }
  }
  if (Status.ConnectState() == TState::Connected && !isIns) {
    Status.Text = TStatus::PowerText(status->PowerState());
    Status.SetPowerState(status->PowerState());
  }
}

void TLidarAcquisition::ShowCombinedConnectState() {
  const uint8_t lidarState = lidar_->Status.ConnectState();
  uint8_t combined = lidarState;
  bool awaitingIns = false;
  // The INS takes part until the source first reaches "Connected".
  if (airins_ && !connectedOnce_) {
    const uint8_t insState = airins_->Status.ConnectState();
    if (lidarState == TState::Connected && insState == TState::Connected) {
      combined = TState::Connected;
    } else if (lidarState == TState::Connected && connectionWanted_) {
      combined = TState::Connecting;
      awaitingIns = true;
    } else {
      combined = (lidarState == TState::Connecting || insState == TState::Connecting) ? TState::Connecting
                                                                                       : TState::Disconnected;
    }
  }
  if (combined == TState::Connected) {
    Status.Text = "Connected";
    connectedOnce_ = true;
  } else if (combined == TState::Connecting) {
    Status.Text = awaitingIns ? "waiting for INS at " + airins_->Address() : "Connecting";
  } else {
    Status.Text = "Disconnected";
    connectionTime_ = Now();
  }
  Status.SetConnectState(combined);
}

}  // namespace OrlaqLidar
