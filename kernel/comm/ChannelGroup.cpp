#include "kernel/comm/ChannelGroup.h"

#include <cmath>

#include "kernel/comm/Lidar.h"
#include "kernel/comm/LidarChannel.h"

namespace OrlaqLidar {

long long ElapsedMs(TDateTime from, TDateTime to) { return std::llround((to - from) * MsPerDay); }

TChannelGroup::TChannelGroup(TLidar* lidar, const TGroupConfig* config) : lidar_(lidar), config_(config) {}

void TChannelGroup::SwitchLasers(bool on, TDateTime now) {
  if (on) PowerOnTime = now;
  for (TLidarChannel* ch : Channels)
    if (!ch->SwitchLaser(on)) lidar_->Enqueue(ch, on ? TLidar::Command::LaserOn : TLidar::Command::LaserOff, 0);
}

bool TChannelGroup::HeatingDone(TDateTime now) const {
  // Whole seconds since the laser-on request.
  return ElapsedMs(PowerOnTime, now) / 1000 >= config_->HeatingTime;
}

void TChannelGroup::CheckWarmup(TDateTime now) {
  if (PowerOnTime == 0 || !HeatingDone(now)) return;
  for (TLidarChannel* ch : Channels) {
    TStatus* s = ch->GetStatus();
    if (s->ConnectState() == TState::Connected && s->PowerState() == TState::LaserWarmup && s->AcqState() == 3)
      s->SetPowerState(TState::LaserOn);
  }
}

bool TChannelGroup::DueForShot(TDateTime now) const {
  if (PowerOnTime == 0 || !HeatingDone(now)) return false;
  if (LastShotTime != 0 && ElapsedMs(LastShotTime, now) < config_->PeriodMin) return false;
  // The channels of a group are asked together: the next round waits for all.
  for (TLidarChannel* ch : Channels) {
    TStatus* s = ch->GetStatus();
    if (s->ConnectState() != TState::Connected || s->PowerState() != TState::LaserOn || s->AcqState() != 3)
      return false;
  }
  return true;
}

void TChannelGroup::AskData(TDateTime /*now*/) {
  for (TLidarChannel* ch : Channels) ch->AskData();
}

}  // namespace OrlaqLidar
