#pragma once
// The profile of one lidar channel accumulated over the profile time, with
// its distance and altitude axes, and the INS and monitoring records
// attached to it. Owned by its data manager.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "Common/DateTime.h"
#include "Config/Calibration.h"
#include "Config/ChannelConfig.h"
#include "kernel/AirinsData.h"
#include "kernel/MonitorBuffer.h"

namespace OrlaqLidar {

class TProcessingArgs;

class TManagedProfile {
 public:
  // Gate count DoorsUsed, door and offset time from the channel; the five
  // arrays are allocated once here and reused. Ends with a full Reset.
  TManagedProfile(int channelId, const TChannelConfig* channel, TCalibration* calibration, int profileTime,
                  TProcessingArgs* args);
  virtual ~TManagedProfile() = default;
  TManagedProfile(const TManagedProfile&) = delete;
  TManagedProfile& operator=(const TManagedProfile&) = delete;

  // Gate cursor over the active gates.
  bool First();
  bool Next();
  bool Seek(int gate);
  int DoorIndex() const { return doorIndex_; }

  // Accessors at the cursor; on a profile without gates a read gives NaN
  // and a write is dropped.
  double GetSignal() const { return At(Signal); }
  void SetSignal(double v) { Put(Signal, v); }
  double GetAccumulator() const { return At(Accumulator); }
  void SetAccumulator(double v) { Put(Accumulator, v); }
  double GetDistance() const { return At(Distance); }
  void SetDistance(double v) { Put(Distance, v); }
  double GetAltitude() const { return At(Altitude); }
  void SetAltitude(double v) { Put(Altitude, v); }

  // Sum of the signal over the gates from..to inclusive, both clamped to
  // the active gates; 0 for a profile without gates.
  double SumSignal(int from, int to) const;

  // A view over the attached INS record when there is one (INS time >= 1).
  std::optional<TAirinsData> GetAirinsData() const;

  // Empties the profile for the next accumulation; without keepAttachments
  // the INS record and the bytes of the attached monitoring records are
  // cleared as well.
  void Reset(bool keepAttachments);

  int ChannelID = 0;
  TCalibration* Calibration = nullptr;        // not owned
  const TChannelConfig* Channel = nullptr;    // not owned
  int DoorCount = 0;                          // DoorsUsed, length of the four arrays
  int ActiveDoors = 0;
  bool Open = true;
  int ProfileTime = 0;   // seconds
  double DoorTime = 0;   // seconds
  double OffsetTime = 0; // seconds
  TDateTime StartTime = 0;
  TDateTime LastTime = 0;
  TDateTime AirinsTime = 0;
  int AirinsLength = 0;
  std::array<uint8_t, TAirinsData::RecordSize> AirinsRecord{};
  std::map<int, std::unique_ptr<TMonitorBuffer>> MonitorRecords;
  int ShotRecords = 0;
  int LaserShots = 0;
  int RecordShots = 0;
  std::vector<double> Signal;
  std::vector<double> Accumulator;
  // The recorded counts summed over the profile's shot records, before any
  // processing or weighting: what raw-data exports need.
  std::vector<double> RawCounts;
  std::vector<double> Distance;
  std::vector<double> Altitude;
  double Background = 0;
  TProcessingArgs* Args = nullptr;  // not owned

  // What the distance and altitude axes were last computed from: they are
  // the same for every shot of a fixed site, so they are rebuilt only when
  // one of these changes.
  struct TAxisKey {
    double GateLength = -1, OffsetDistance = 0, CosTheta = 0, AltitudeBase = 0;
    int Gates = -1;
    bool operator==(const TAxisKey&) const = default;
  };
  TAxisKey Axes;

 private:
  double At(const std::vector<double>& values) const;
  void Put(std::vector<double>& values, double v);

  int doorIndex_ = 0;
};

}  // namespace OrlaqLidar
