#include "kernel/comm/Lidar.h"

#include <algorithm>

#include "Platform/Services.h"
#include "kernel/Assert.h"
#include "kernel/ErrorLogger.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/MonitorChannel.h"
#include "kernel/MonitorData.h"

namespace OrlaqLidar {

namespace {
constexpr uint32_t InstrumentError = 0x8000000D;
constexpr uint32_t ChannelTimeOut = 0x80000005;
constexpr uint32_t ChannelProtocolError = 0x80000001;

std::string PowerTextOf(uint8_t power) {
  switch (power) {
    case 5: return "Power on";
    case 1: return "Power off in progress";
    case 3: return "Power on in progress";
    case 4: return "Warmup...";
    default: return "Power off";
  }
}

bool Idle(TChannel* ch) { return ch->GetStatus()->AcqState() == 3; }
}  // namespace

TLidar::TLidar(const TLidarConfig* config) : Status("Lidar", "Disconnect"), config_(config) {
  Status.ChangeMask = TState::Connect | TState::Power;
  Status.SetPowerState(TState::LaserOff);
  Status.Children = &ChildStatuses;
}

TLidar::~TLidar() {
  Clear();
  Status.Children = nullptr;
}

bool TLidar::Build() {
  bool ok = true;
  for (const auto& [id, group] : config_->Groups) groups_.push_back(std::make_unique<TChannelGroup>(this, group.get()));
  for (const auto& def : config_->Channels) {
    const TChannelType type = def->Type();
    if (type == TChannelType::Lidar) {
      auto ch = std::make_unique<TLidarChannel>(*def);
      auto g = std::find_if(groups_.begin(), groups_.end(), [&](const auto& x) { return x->Id() == def->GroupID; });
      if (g == groups_.end()) {
        ok = false;
      } else {
        (*g)->Channels.push_back(ch.get());
        ch->Group = g->get();
      }
      ch->OnData = [this](TChannel* c, const uint8_t* d, int n, TDateTime t) { LidarData(c, d, n, t); };
      ch->OnTrace = [this](const std::string& s, char k, const uint8_t* d, int n, TDateTime t) {
        if (OnTrace) OnTrace(s, k, d, n, t);
      };
      ch->GetStatus()->OnChange = [this](TStatus* s, TState::ChangeRaison r) { ChannelStatusChanged(s, r); };
      ch->OpenGate = [this] { return opensThisTick_++ < DeviceOpensPerTick; };
      if (ch->GetStatus()->Error() != 0) ok = false;
      ChildStatuses.push_back(ch->GetStatus());
      lidarChannels_.push_back(std::move(ch));
    } else if (type == TChannelType::Monitor) {
      auto ch = std::make_unique<TMonitorChannel>(*def);
      ch->OnData = [this](TChannel* c, const uint8_t* d, int n, TDateTime t) { MeasureData(c, d, n, t); };
      ch->OnTrace = [this](const std::string& s, char k, const uint8_t* d, int n, TDateTime t) {
        if (OnTrace) OnTrace(s, k, d, n, t);
      };
      ch->GetStatus()->OnChange = [this](TStatus* s, TState::ChangeRaison r) { ChannelStatusChanged(s, r); };
      ch->OpenGate = [this] { return opensThisTick_++ < DeviceOpensPerTick; };
      if (ch->GetStatus()->Error() != 0) ok = false;
      ChildStatuses.push_back(ch->GetStatus());
      monitorChannels_.push_back(std::move(ch));
      monitoringFlag_ = true;
    }
  }
  std::stable_sort(lidarChannels_.begin(), lidarChannels_.end(), [](const auto& a, const auto& b) {
    const TChannelConfig& x = a->Config();
    const TChannelConfig& y = b->Config();
    if (x.GroupID != y.GroupID) return x.GroupID < y.GroupID;
    if (x.HasLaserCmd != y.HasLaserCmd) return x.HasLaserCmd > y.HasLaserCmd;
    return x.RecordID < y.RecordID;
  });
  return ok;
}

void TLidar::Clear() {
  Disconnect();
  queue_.clear();
  // Unhook first: closing a channel changes its status on the way out.
  for (auto& ch : lidarChannels_) {
    ch->GetStatus()->OnChange = nullptr;
    ch->OnData = nullptr;
    ch->OnTrace = nullptr;
    ch->OpenGate = nullptr;
  }
  for (auto& ch : monitorChannels_) {
    ch->GetStatus()->OnChange = nullptr;
    ch->OnData = nullptr;
    ch->OnTrace = nullptr;
    ch->OpenGate = nullptr;
  }
  ChildStatuses.clear();
  lidarChannels_.clear();
  monitorChannels_.clear();
  groups_.clear();
  version_.clear();
}

bool TLidar::Connect() {
  connectWanted_ = true;
  uint8_t lowest = TState::Connected;
  for (auto& ch : monitorChannels_) {
    ch->SetConnectState(TState::Connected);
    lowest = std::min(lowest, ch->GetConnectState());
  }
  for (auto& ch : lidarChannels_) {
    ch->SetConnectState(TState::Connected);
    lowest = std::min(lowest, ch->GetConnectState());
  }
  for (auto& ch : monitorChannels_) {
    TStatus* s = ch->GetStatus();
    if (s->ConnectState() == TState::Connecting && s->AcqState() == 3 && !ch->Ping())
      Enqueue(ch.get(), Command::Ping, 2);
  }
  return lowest >= TState::Connecting;
}

void TLidar::Disconnect() {
  connectWanted_ = false;
  notConnectedSinceTick_ = 0;
  queue_.clear();
  if (Status.PowerState() != TState::LaserOff) SetPowerState(TState::LaserOff);
  for (auto& ch : lidarChannels_) ch->SetConnectState(TState::Disconnected);
  for (auto& ch : monitorChannels_) ch->SetConnectState(TState::Disconnected);
  // Laser commands queued on the way out have no link left to go to.
  queue_.clear();
}

void TLidar::SetPowerState(uint8_t newState) {
  // Only the end states can be asked for; the waiting states are ours.
  SKV_ASSERT((newState != TState::WaitingPowerOn) && (newState != TState::WaitingPowerOff), "kernel\\Lidar",
             __LINE__);
  if (newState == Status.PowerState()) return;
  Status.SetPowerState(newState == TState::LaserOn ? TState::WaitingPowerOn : TState::WaitingPowerOff);
  const TDateTime now = Services().Clock->NowUTC();
  for (auto& g : groups_) g->SwitchLasers(newState == TState::LaserOn, now);
}

void TLidar::Enqueue(TChannel* channel, uint8_t kind, int tries) { queue_.push_back(Command{channel, tries, kind, 0}); }

void TLidar::Tick(TDateTime now) {
  opensThisTick_ = 0;
  for (auto& ch : lidarChannels_) ch->CheckTimeOut(now);
  Step(now);
  for (auto& ch : monitorChannels_) {
    ch->CheckTimeOut(now);
    TStatus* s = ch->GetStatus();
    if (s->ConnectState() > TState::Disconnected && s->AcqState() == 3 &&
        ElapsedMs(lastMeasureTime_, now) >= config_->MonitorTimeData)
      AskMeasure(ch.get(), now);
  }
  for (auto& ch : lidarChannels_) ch->KeepAlive(now);
  ReportConnecting();
}

void TLidar::ReportConnecting() {
  const uint64_t tick = Services().Clock->TickMs();
  if (!connectWanted_ || Status.ConnectState() == TState::Connected) {
    notConnectedSinceTick_ = 0;
    return;
  }
  if (notConnectedSinceTick_ == 0) {
    notConnectedSinceTick_ = tick;
    nextConnectReportTick_ = tick + ConnectReportFirstMs;
    return;
  }
  if (tick < nextConnectReportTick_) return;
  nextConnectReportTick_ = tick + ConnectReportRepeatMs;
  // The channels in the order the connection state is folded: monitoring first.
  std::vector<TChannel*> waiting;
  size_t total = 0;
  auto collect = [&](TChannel* ch) {
    ++total;
    if (ch->GetConnectState() != TState::Connected) waiting.push_back(ch);
  };
  for (auto& ch : monitorChannels_) collect(ch.get());
  for (auto& ch : lidarChannels_) collect(ch.get());
  constexpr size_t Named = 3;
  std::string text = "Lidar not connected after " + std::to_string((tick - notConnectedSinceTick_) / 1000) + " s, " +
                     std::to_string(waiting.size()) + " of " + std::to_string(total) + " channels waiting";
  for (size_t i = 0; i < waiting.size() && i < Named; ++i) {
    TChannel* ch = waiting[i];
    text += i > 0 ? "; " : ": ";
    text += ch->GetStatus()->Name + " " + TStatus::ConnectText(ch->GetConnectState()) + ", " + ch->GetStatus()->Text;
    const std::string& link = ch->LinkStatus().Text;
    if (!link.empty() && link != "OK" && link != ch->GetStatus()->Text) text += " (USB: " + link + ")";
  }
  if (waiting.size() > Named) text += "; and " + std::to_string(waiting.size() - Named) + " more";
  Log(text);
}

void TLidar::Step(TDateTime now) {
  for (auto& g : groups_) g->CheckWarmup(now);
  if (!queue_.empty()) ProcessQueue(now);
  if (Status.PowerState() < TState::LaserWarmup) return;
  for (auto& g : groups_)
    if (g->DueForShot(now)) {
      g->LastShotTime = now;
      g->AskData(now);
    }
}

// At most one command per step; the pause before a repeat grows by 250 ms
// for every attempt already made.
void TLidar::ProcessQueue(TDateTime now) {
  for (size_t turn = 0; turn < queue_.size() && !Idle(queue_.front().Channel); ++turn) {
    queue_.push_back(queue_.front());
    queue_.pop_front();
  }
  Command c = queue_.front();
  queue_.pop_front();
  bool done = false;
  if (Idle(c.Channel) && (c.LastTry == 0 || ElapsedMs(c.LastTry, now) >= 250LL * c.Tries)) {
    ++c.Tries;
    c.LastTry = now;
    done = RunCommand(c);
  }
  if (!done && c.Tries < 3) queue_.push_back(c);
}

bool TLidar::RunCommand(const Command& c) {
  if (auto* lidar = dynamic_cast<TLidarChannel*>(c.Channel)) {
    switch (c.Kind) {
      case Command::Version: return lidar->AskVersion();
      case Command::LaserStatus: return lidar->AskLaserStatus();
      case Command::LaserOn: return lidar->SwitchLaser(true);
      case Command::LaserOff: return lidar->SwitchLaser(false);
      default: return false;
    }
  }
  if (auto* monitor = dynamic_cast<TMonitorChannel*>(c.Channel)) {
    switch (c.Kind) {
      case Command::Measure: return monitor->AskData();
      case Command::Ping: return monitor->Ping();
      default: return false;
    }
  }
  return false;
}

TChannel* TLidar::FindChannelByStatusName(const std::string& name) const {
  for (const auto& ch : lidarChannels_)
    if (ch->GetStatus()->Name == name) return ch.get();
  for (const auto& ch : monitorChannels_)
    if (ch->GetStatus()->Name == name) return ch.get();
  return nullptr;
}

void TLidar::ChannelStatusChanged(TStatus* status, TState::ChangeRaison reasons) {
  if ((reasons & TState::Connect) && !lidarChannels_.empty() && status == lidarChannels_.front()->GetStatus()) {
    if (status->ConnectState() == TState::Connected)
      version_ = lidarChannels_.front()->Version();
    else if (status->ConnectState() == TState::Disconnected)
      version_.clear();
  }

  if (const uint32_t error = status->Error(); error != 0) {
    if (error == ChannelTimeOut || error == ChannelProtocolError) {
      TChannel* ch = FindChannelByStatusName(status->Name);
      if (!ch) {
        Status.Text = "Channel error";
        Status.SetError(InstrumentError);
      } else if (ch->Pending() >= 2) {
        // Two repeats did not help: start the link again.
        Status.Text = ch->GetStatus()->Text;
        Status.SetError(InstrumentError);
        ch->SetConnectState(TState::Disconnected);
        ch->SetConnectState(TState::Connected);
      } else {
        ch->Retry(true);
      }
    } else {
      Status.Text = "Channel error";
      Status.SetError(InstrumentError);
    }
  }

  if (reasons & TState::Connect) {
    uint8_t state = TState::Connected;
    for (const auto& ch : monitorChannels_)
      if (ch->GetConnectState() != TState::Connected) {
        state = ch->GetConnectState();
        break;
      }
    if (state == TState::Connected)
      for (const auto& ch : lidarChannels_)
        if (ch->GetConnectState() != TState::Connected) {
          state = ch->GetConnectState();
          break;
        }
    if (state == TState::Connected) {
      Status.Text = "Connect";
      // Everything answers again: the earlier channel error is over.
      Status.SetError(0);
    } else {
      Status.Text = "Disconnect";
      Status.SetPowerState(TState::LaserOff);
    }
    Status.SetConnectState(state);
  }

  if (Status.ConnectState() == TState::Connected) {
    uint8_t power = TState::LaserOn;
    bool laserStillOn = false;
    for (const auto& ch : lidarChannels_)
      if (ch->Config().HasLaserCmd > 0) {
        const uint8_t p = ch->GetStatus()->PowerState();
        power = std::min(power, p);
        laserStillOn = laserStillOn || p >= TState::WaitingPowerOn;
      }
    // Switching off ends when every laser is off: the first group to answer
    // must not end it while another laser, whose command is still queued,
    // runs on (a disconnection would then leave it on).
    if (power == TState::LaserOff && laserStillOn && Status.PowerState() == TState::WaitingPowerOff)
      power = TState::WaitingPowerOff;
    if (power != Status.PowerState()) {
      Status.Text = PowerTextOf(power);
      Status.SetPowerState(power);
    }
  }

  TraceLine(status->Name + ": " + TStatus::ReasonText(reasons) + ":" + status->Text + " => " + Status.Text);
}

void TLidar::TraceLine(const std::string& text) {
  if (OnTrace)
    OnTrace("Lidar", '=', reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()),
            Services().Clock->NowUTC());
}

void TLidar::LidarData(TChannel* channel, const uint8_t* data, int length, TDateTime time) {
  Step(time);
  if (OnData) OnData(channel->Config().RecordID, data, length, time);
}

void TLidar::MeasureData(TChannel* channel, const uint8_t* data, int length, TDateTime time) {
  TMonitorData record(&channel->Config(), data, static_cast<size_t>(length));
  bool alarm = false;
  if (record.IsValid() && record.First()) do {
      if (record.GetLevel() == 3) {
        alarm = true;
        break;
      }
    } while (record.Next());
  monitoringFlag_ = alarm;
  if (OnData) OnData(channel->Config().RecordID, data, length, time);
  auto* monitor = static_cast<TMonitorChannel*>(channel);
  if (Idle(monitor) && ElapsedMs(lastMeasureTime_, time) >= config_->MonitorTimeData) AskMeasure(monitor, time);
}

void TLidar::AskMeasure(TMonitorChannel* channel, TDateTime now) {
  if (channel->AskData())
    lastMeasureTime_ = now;
  else
    Enqueue(channel, Command::Measure, 2);
}

}  // namespace OrlaqLidar
