#pragma once
// Turns the records of an acquisition source into profiles: one profile
// per lidar channel, the processing chain after every shot, the running
// and the completed profiles handed to the owner, and the latest
// monitoring and INS records attached to each new profile. Every view,
// export and calibration that needs profiles owns one, with its own
// processing settings.
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Common/DateTime.h"
#include "kernel/AirinsData.h"
#include "kernel/LidarData.h"
#include "kernel/LidarManager.h"
#include "kernel/ManagedProfile.h"
#include "kernel/MonitorBuffer.h"
#include "kernel/Profile.h"
#include "kernel/Status.h"
#include "kernel/processing/Processing.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar {

class TLidarConfig;
class TLidarSetup;

class TDataManager {
 public:
  using TRawDataHandler = TDataConsumer;
  // The profile is lent for the call only; its Open flag is true for the
  // running profile, false for a completed one.
  using TProfileHandler = std::function<void(const TProfile& profile)>;
  using TEventHandler = TEventConsumer;

  // Registers on the source (when given) as data, event and status
  // consumer, the latter with priority 1000 so that profiles are completed
  // or dropped before anyone else hears of a status change.
  TDataManager(TProcessingArgs* args, TLidarManager* source);
  virtual ~TDataManager();
  TDataManager(const TDataManager&) = delete;
  TDataManager& operator=(const TDataManager&) = delete;

  void OnReceiveData(int recordId, const uint8_t* data, int length, TDateTime time);
  void OnStatusChange(TStatus* status, TState::ChangeRaison reason);
  void OnGotEvent(int sourceId, const std::string& code, TDateTime time, const std::string& comment);

  // Completes every profile that holds at least one shot record.
  void Flush();
  // Drops the monitoring and INS records and empties every profile.
  void Reset();
  // Runs the processing chain on the channel's profile; true when every
  // processing that ran succeeded.
  bool ProcessShoot(int recordId, TLidarData& shot);
  // Checks the profile's calibration, then runs one processing; false on
  // failure or exception (logged).
  bool ComputeData(TManagedProfile& profile, TProcessing& processing);
  // The corrections after the accumulation (B, A, O, R2 as selected).
  bool ProcessAccumulated(TManagedProfile& profile);
  // Hands the channel's profile out as complete, then empties it.
  void CompleteProfile(int recordId);
  // Different settings complete the profiles; the arguments in use stay.
  void CheckArguments(const TProcessingArgs* args);

  // Whether a shot at t no longer belongs to a profile started at start.
  static bool NewProfileDue(TDateTime start, TDateTime t, int profileTime, bool aligned);

  TManagedProfile* Profile(int recordId) const;
  const TMonitorBuffer* MonitorBuffer(int recordId) const;
  TDateTime AirinsTime() const { return airinsTime_; }
  TProcessingArgs* Arguments() const { return arguments_; }
  TLidarConfig* Definition() const { return definition_; }

  // Boundaries on multiples of the profile time in UTC (true) or measured
  // from the first shot (false).
  bool Aligned = true;
  // Only completed profiles are handed out: the running one is neither
  // corrected after each shot nor passed on (exports, daily pictures).
  bool CompletedOnly = false;
  // Raw counts are summed per shot only for those who export them; the
  // others save a pass over every gate.
  void KeepRawCounts(bool keep);
  TRawDataHandler FOnRawData;
  TProfileHandler FOnManagedDatas;
  TEventHandler FOnEvent;

 private:
  // What is kept per lidar channel besides its profile, worked out once so
  // that a shot costs no look-up by text and no allocation.
  struct TChannelSlot {
    std::unique_ptr<TManagedProfile> Profile;
    const TChannelConfig* ShotFieldChannel = nullptr;
    int ShotField = -1;
    std::string IntegrityContext;
  };

  void ReceiveMonitoring(int recordId, const uint8_t* data, int length, TDateTime time);
  void ReceiveAirins(const uint8_t* data, int length, TDateTime time);
  void ReceiveShot(int recordId, const uint8_t* data, int length, TDateTime time);
  void AttachOnStart(TManagedProfile& profile);
  int ShotField(TChannelSlot& slot, const TChannelConfig& channel);
  const TChannelSlot* FindSlot(const TManagedProfile& profile) const;

  TLidarConfig* definition_ = nullptr;  // not owned
  TLidarSetup* setup_ = nullptr;        // not owned
  TProcessingArgs* arguments_ = nullptr;  // not owned
  TLidarManager* source_ = nullptr;     // not owned
  std::map<int, TChannelSlot> profiles_;
  TDateTime airinsTime_ = 0;
  std::array<uint8_t, TAirinsData::RecordSize> airinsRecord_{};
  std::map<int, std::unique_ptr<TMonitorBuffer>> monitorBuffers_;
};

}  // namespace OrlaqLidar
