#pragma once
// The afterpulse field calibration without its window: one profile per
// lidar channel measured over an integration time on the count rate with
// the sky background removed, then, for the channels the operator keeps,
// smoothed and stored as the channel's new afterpulse file.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "kernel/ManagedProfile.h"
#include "kernel/processing/DataManager.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar {

class TLidarConfig;
class TLidarManager;
class TLidarSetup;

class TAfterPulseCalibration {
 public:
  // Count rate and sky background only: the profile must not be corrected
  // by the afterpulse it is meant to replace.
  static constexpr int Levels = 7;
  // Gates per second of gate time that the detector needs to recover: the
  // afterpulse is kept as measured over the first gates.
  static constexpr double GatesPerSecond = 666666666.6666667;
  static constexpr int MaxHalfWidth = 5;
  static constexpr double MinShareOfTime = 0.8;
  static constexpr double Absurd = 1e100;

  struct TResult {
    int Channel = 0;
    std::vector<double> Values;  // one per gate
  };

  // Nothing is owned; definition and setup are those the calibrations
  // belong to and must outlive the object.
  TAfterPulseCalibration(TLidarManager* source, TLidarConfig* definition, TLidarSetup* setup);
  ~TAfterPulseCalibration();
  TAfterPulseCalibration(const TAfterPulseCalibration&) = delete;
  TAfterPulseCalibration& operator=(const TAfterPulseCalibration&) = delete;

  // (Re)starts a measurement of integrationTime seconds on a fresh data
  // manager; earlier results are dropped.
  void Start(int integrationTime);
  // Later profiles are ignored; the results stay.
  void Detach();
  // Leaves the source: the data manager and its settings go, the results stay.
  void Stop();
  bool Started() const { return started_; }
  int IntegrationTime() const { return integrationTime_; }

  // A completed profile long enough becomes its channel's result; true
  // when it did. The data manager calls it; tests may too.
  bool Take(const TManagedProfile& profile);
  // Called after Take accepted a profile, with its channel.
  std::function<void(int channel)> OnResult;

  const TResult* Result(int channel) const;
  // Start of the last accepted profile; 0 before one.
  TDateTime SourceTime() const { return sourceTime_; }
  TDataManager* Manager() const { return manager_.get(); }

  // Smooths the results of these channels into their calibrations, marks
  // the afterpulse present and saves each file. Channels without result or
  // calibration are skipped. Returns the number of files saved.
  int Store(const std::vector<int>& channels);

  // First gate that is smoothed after: DoorsTime (s) x GatesPerSecond,
  // truncated.
  static int SmoothingStart(double doorsTime);
  // Gates up to start are copied (negative values as 0); after it each
  // gate is the geometric mean of a window widening by one gate on each
  // side per gate, up to 2 x MaxHalfWidth + 1 gates, cut at the last value.
  // Only as many gates as both arrays hold are written.
  static void Smooth(const std::vector<double>& measured, int start, std::vector<double>& afterPulse);
  // Whether the profile covers enough of the integration time to count.
  static bool LongEnough(const TManagedProfile& profile, int integrationTime);
  // Not finite, or beyond Absurd: 0.
  static double Sanitized(double v);
  // The header lines of the new afterpulse file.
  static std::vector<std::string> CommentLines(int channel, TDateTime sourceTime, int integrationTime);

 private:
  TLidarManager* source_;
  TLidarConfig* definition_;
  TLidarSetup* setup_;
  std::unique_ptr<TProcessingArgs> args_;
  std::unique_ptr<TDataManager> manager_;
  std::map<int, TResult> results_;
  TDateTime sourceTime_ = 0;
  int integrationTime_ = 0;
  bool started_ = false;
};

}  // namespace OrlaqLidar
