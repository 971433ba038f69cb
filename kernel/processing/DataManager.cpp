#include "kernel/processing/DataManager.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <typeinfo>

#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarError.h"
#include "kernel/processing/AdjustSensor.h"
#include "kernel/processing/AfterPulse.h"
#include "kernel/processing/BrightnessSky.h"
#include "kernel/processing/DataPR2.h"
#include "kernel/processing/DistanceCompute.h"
#include "kernel/processing/Overlap.h"
#include "kernel/processing/SpacialSampling.h"
#include "kernel/processing/TemporalSampling.h"

namespace OrlaqLidar {

namespace {

// Records this many seconds away from a profile's first shot still belong to it.
constexpr long long AttachSeconds = 4;
// Guards whole-second arithmetic on date-times against representation error.
constexpr double OneMicrosecond = 1e-6;
constexpr double UnixEpoch = 25569.0;  // 1 January 1970 as a date-time

// Unix time in whole seconds.
long long UnixSeconds(TDateTime d) {
  return static_cast<long long>(std::floor((d - UnixEpoch) * SecondsPerDay + OneMicrosecond));
}

// Whole seconds between two date-times, whatever their order.
long long WholeSecondsBetween(TDateTime a, TDateTime b) {
  return static_cast<long long>(std::trunc(std::abs(a - b) * SecondsPerDay + OneMicrosecond));
}

}  // namespace

TDataManager::TDataManager(TProcessingArgs* args, TLidarManager* source)
    : definition_(args ? args->Definition : nullptr),
      setup_(args ? args->LidarSetup : nullptr),
      arguments_(args),
      source_(source) {
  if (source_) {
    source_->AddDataConsumer(
        this, [this](int id, const uint8_t* data, int length, TDateTime time) { OnReceiveData(id, data, length, time); });
    source_->AddStatusConsumer(
        this, [this](TStatus* status, TState::ChangeRaison reason) { OnStatusChange(status, reason); }, 1000);
    source_->AddEventConsumer(this, [this](int sourceId, const std::string& code, TDateTime time,
                                           const std::string& comment) { OnGotEvent(sourceId, code, time, comment); });
  }
  if (!definition_) return;
  const int profileTime = args ? args->Setup.ProfileTime : 0;
  for (const auto& channel : definition_->Channels) {
    if (!channel || channel->Type() != TChannelType::Lidar || profiles_.count(channel->RecordID)) continue;
    TChannelSlot slot;
    TCalibration* calibration = setup_ ? setup_->FindCalibration(channel->RecordID) : nullptr;
    slot.Profile = std::make_unique<TManagedProfile>(channel->RecordID, channel.get(), calibration, profileTime, args);
    slot.IntegrityContext = "ComputeData:Channel" + std::to_string(channel->RecordID);
    profiles_.emplace(channel->RecordID, std::move(slot));
  }
}

TDataManager::~TDataManager() {
  Reset();
  if (source_) {
    source_->RemoveDataConsumer(this);
    source_->RemoveStatusConsumer(this);
    source_->RemoveEventConsumer(this);
  }
  profiles_.clear();
  monitorBuffers_.clear();
}

void TDataManager::KeepRawCounts(bool keep) {
  for (auto& [id, slot] : profiles_) {
    auto& raw = slot.Profile->RawCounts;
    if (keep) {
      raw.assign(slot.Profile->Signal.size(), 0.0);
    } else {
      raw.clear();
      raw.shrink_to_fit();
    }
  }
}

TManagedProfile* TDataManager::Profile(int recordId) const {
  const auto it = profiles_.find(recordId);
  return it == profiles_.end() ? nullptr : it->second.Profile.get();
}

const TMonitorBuffer* TDataManager::MonitorBuffer(int recordId) const {
  const auto it = monitorBuffers_.find(recordId);
  return it == monitorBuffers_.end() ? nullptr : it->second.get();
}

bool TDataManager::NewProfileDue(TDateTime start, TDateTime t, int profileTime, bool aligned) {
  if (profileTime <= 0) return true;
  if (aligned) return UnixSeconds(start) / profileTime != UnixSeconds(t) / profileTime;
  return (t - start) * SecondsPerDay >= profileTime;
}

void TDataManager::OnReceiveData(int recordId, const uint8_t* data, int length, TDateTime time) {
  if (!definition_) return;
  const TChannelType kind = definition_->ChannelType(recordId);
  if (FOnRawData) {
    try {
      FOnRawData(recordId, data, length, time);
    } catch (...) {
      SKV_LOG("Error on FOnRawData(" + std::to_string(recordId) + "):" + ExceptionText(std::current_exception()));
    }
  }
  // A negative length is no record at all.
  if (length < 0 || (!data && length > 0)) return;
  switch (kind) {
    case TChannelType::Monitor: ReceiveMonitoring(recordId, data, length, time); break;
    case TChannelType::Ins: ReceiveAirins(data, length, time); break;
    case TChannelType::Lidar: ReceiveShot(recordId, data, length, time); break;
    default: break;
  }
}

void TDataManager::ReceiveMonitoring(int recordId, const uint8_t* data, int length, TDateTime time) {
  const TChannelConfig* channel = definition_->FindChannel(recordId);
  auto& buffer = monitorBuffers_[recordId];
  if (!buffer) buffer = std::make_unique<TMonitorBuffer>();
  buffer->Assign(channel, data, static_cast<size_t>(length), time);
  for (auto& [id, slot] : profiles_) {
    auto& attached = slot.Profile->MonitorRecords[recordId];
    if (!attached) attached = std::make_unique<TMonitorBuffer>();
    attached->Assign(channel, data, static_cast<size_t>(length), time);
  }
}

void TDataManager::ReceiveAirins(const uint8_t* data, int length, TDateTime time) {
  const size_t size = static_cast<size_t>(length);
  if (size == TAirinsData::RecordSize) {
    airinsTime_ = time;
    std::copy(data, data + size, airinsRecord_.begin());
  }
  if (size > TAirinsData::RecordSize) return;
  for (auto& [id, slot] : profiles_) {
    TManagedProfile& p = *slot.Profile;
    p.AirinsTime = time;
    p.AirinsLength = length;
    p.AirinsRecord.fill(0);
    std::copy(data, data + size, p.AirinsRecord.begin());
  }
}

void TDataManager::ReceiveShot(int recordId, const uint8_t* data, int length, TDateTime time) {
  const auto it = profiles_.find(recordId);
  if (it == profiles_.end()) return;
  TManagedProfile& profile = *it->second.Profile;
  const TChannelConfig* channel = definition_->FindChannel(recordId);
  if (!channel) return;
  profile.Calibration = setup_ ? setup_->FindCalibration(recordId) : nullptr;

  TLidarData shot(channel, data, static_cast<size_t>(length));
  // A record of the wrong length (logged by the view) must neither start
  // nor complete a profile.
  if (!shot.IsValid()) return;

  if (profile.ShotRecords >= 1 && NewProfileDue(profile.StartTime, time, profile.ProfileTime, Aligned)) {
    try {
      CompleteProfile(recordId);
    } catch (...) {
      SKV_LOG("Error on OnProfileCompletion(" + std::to_string(recordId) + "):" + ExceptionText(std::current_exception()));
    }
  }
  if (std::trunc(profile.StartTime) == 0) {
    profile.StartTime = time;
    AttachOnStart(profile);
  }
  profile.LastTime = time;
  try {
    ProcessShoot(recordId, shot);
  } catch (...) {
    SKV_LOG("Error on ProcessShoot(" + std::to_string(recordId) + "):" + ExceptionText(std::current_exception()));
  }
}

void TDataManager::AttachOnStart(TManagedProfile& profile) {
  if (airinsTime_ != 0 && WholeSecondsBetween(airinsTime_, profile.StartTime) <= AttachSeconds) {
    profile.AirinsTime = airinsTime_;
    profile.AirinsLength = static_cast<int>(TAirinsData::RecordSize);
    profile.AirinsRecord = airinsRecord_;
  }
  for (const auto& [id, buffer] : monitorBuffers_) {
    if (!buffer || WholeSecondsBetween(buffer->Time, profile.StartTime) > AttachSeconds) continue;
    auto& attached = profile.MonitorRecords[id];
    if (!attached) attached = std::make_unique<TMonitorBuffer>();
    attached->Assign(buffer->Channel, buffer->Data.data(), buffer->Data.size(), buffer->Time);
  }
}

int TDataManager::ShotField(TChannelSlot& slot, const TChannelConfig& channel) {
  if (slot.ShotFieldChannel != &channel) {
    slot.ShotFieldChannel = &channel;
    slot.ShotField = TSpacialSampling::FindShotField(channel);
  }
  return slot.ShotField;
}

bool TDataManager::ProcessShoot(int recordId, TLidarData& shot) {
  const auto it = profiles_.find(recordId);
  if (it == profiles_.end() || !shot.Channel()) return false;
  TManagedProfile& profile = *it->second.Profile;
  const int flags = arguments_ ? arguments_->Setup.Processings : 0;
  // The processings live on the stack for this shot only: the chain
  // allocates nothing.
  {
    TDistanceCompute p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  {
    TSpacialSampling p(arguments_, &shot, ShotField(it->second, *shot.Channel()));
    if (!ComputeData(profile, p)) return false;
  }
  if (flags & TProcessingSetup::FlagSensor) {
    TAdjustSensor p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  {
    TTemporalSampling p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  // The corrections work on the accumulated profile: an owner that takes
  // completed profiles only has them run once, at completion.
  if (CompletedOnly) return true;
  if (!ProcessAccumulated(profile)) return false;
  if (FOnManagedDatas) {
    profile.Open = true;
    FOnManagedDatas(TProfile(&profile));
  }
  return true;
}

bool TDataManager::ProcessAccumulated(TManagedProfile& profile) {
  const int flags = arguments_ ? arguments_->Setup.Processings : 0;
  if (flags & TProcessingSetup::FlagBackground) {
    TBrightnessSky p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  if (flags & TProcessingSetup::FlagAfterPulse) {
    TAfterPulse p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  if (flags & TProcessingSetup::FlagOverlap) {
    TOverlap p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  if (flags & TProcessingSetup::FlagRange2) {
    TDataPR2 p(arguments_);
    if (!ComputeData(profile, p)) return false;
  }
  return true;
}

const TDataManager::TChannelSlot* TDataManager::FindSlot(const TManagedProfile& profile) const {
  const auto it = profiles_.find(profile.ChannelID);
  return it == profiles_.end() ? nullptr : &it->second;
}

bool TDataManager::ComputeData(TManagedProfile& profile, TProcessing& processing) {
  const TChannelSlot* slot = FindSlot(profile);
  if (slot && slot->Profile.get() == &profile) {
    TCalibration::CheckIntegrity(profile.Calibration, slot->IntegrityContext.c_str());
  } else {
    const std::string context = "ComputeData:Channel" + std::to_string(profile.ChannelID);
    TCalibration::CheckIntegrity(profile.Calibration, context.c_str());
  }
  try {
    return processing.Process(&profile);
  } catch (const std::exception& e) {
    SKV_LOG("Error in ComputeData(" + std::string(e.what()) + ") for processing " + processing.Name());
  } catch (...) {
    SKV_LOG(std::string("Error in ComputeData() An exception of unknown type was thrown for processing ") +
            processing.Name());
  }
  return false;
}

void TDataManager::CompleteProfile(int recordId) {
  TManagedProfile* profile = Profile(recordId);
  if (!profile) return;
  // A failed correction is logged; the profile is handed out all the same.
  if (CompletedOnly && profile->ShotRecords > 0) ProcessAccumulated(*profile);
  profile->Open = false;
  if (FOnManagedDatas) {
    try {
      FOnManagedDatas(TProfile(profile));
    } catch (...) {
      SKV_LOG("Error on FOnManagedDatas(" + std::to_string(recordId) + "):" + ExceptionText(std::current_exception()));
    }
  }
  profile->Reset(false);
}

void TDataManager::Flush() {
  for (auto& [id, slot] : profiles_) {
    if (slot.Profile->ShotRecords < 1) continue;
    // The calibrations may have been rebuilt since the last shot (an
    // archive installed): never process with the one that was deleted.
    slot.Profile->Calibration = setup_ ? setup_->FindCalibration(id) : nullptr;
    try {
      CompleteProfile(id);
    } catch (...) {
      SKV_LOG("Error on OnProfileCompletion(" + std::to_string(id) + "):" + ExceptionText(std::current_exception()));
    }
  }
}

void TDataManager::Reset() {
  monitorBuffers_.clear();
  airinsTime_ = 0;
  for (auto& [id, slot] : profiles_) slot.Profile->Reset(false);
}

void TDataManager::CheckArguments(const TProcessingArgs* args) {
  if (args && arguments_ && !arguments_->Equals(*args)) Flush();
}

void TDataManager::OnStatusChange(TStatus* status, TState::ChangeRaison reason) {
  if (!status) return;
  if (reason & TState::Connect) {
    if (status->ConnectState() == TState::Disconnected)
      Flush();
    else if (status->ConnectState() == TState::Connected)
      Reset();
  }
  if (reason & TState::Power) {
    if (status->PowerState() == TState::WaitingPowerOff)
      Flush();
    else if (status->PowerState() == TState::LaserOn)
      Reset();
  }
  // A replay that is done has nothing more for its profiles.
  if ((reason & (TState::Power | TState::Replay)) && status->ReplayState() == 1) Flush();
}

void TDataManager::OnGotEvent(int sourceId, const std::string& code, TDateTime time, const std::string& comment) {
  if (!FOnEvent) return;
  try {
    FOnEvent(sourceId, code, time, comment);
  } catch (...) {
    SKV_LOG("Error in OnGotEvent(" + std::to_string(sourceId) + ":" + code + ") : " + ExceptionText(std::current_exception()));
  }
}

}  // namespace OrlaqLidar
