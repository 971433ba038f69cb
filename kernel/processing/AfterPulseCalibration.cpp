#include "kernel/processing/AfterPulseCalibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>

#include "Config/ChannelConfig.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

TAfterPulseCalibration::TAfterPulseCalibration(TLidarManager* source, TLidarConfig* definition, TLidarSetup* setup)
    : source_(source), definition_(definition), setup_(setup) {}

TAfterPulseCalibration::~TAfterPulseCalibration() { Stop(); }

void TAfterPulseCalibration::Start(int integrationTime) {
  Stop();
  results_.clear();
  sourceTime_ = 0;
  integrationTime_ = integrationTime;
  args_ = std::make_unique<TProcessingArgs>(TProcessingSetup(Levels, integrationTime), definition_, setup_);
  manager_ = std::make_unique<TDataManager>(args_.get(), source_);
  // Only whole profiles matter, and a replay delivers the period the
  // operator picked: its profile starts at the first replayed shot rather
  // than at the next multiple of the integration time.
  manager_->CompletedOnly = true;
  manager_->Aligned = !(source_ && source_->IsReplay());
  manager_->FOnManagedDatas = [this](const TProfile& profile) {
    try {
      if (profile && Take(*profile) && OnResult) OnResult(profile->ChannelID);
    } catch (const std::exception& e) {
      SKV_LOG(std::string("Error in calib (") + e.what() + ")");
    }
  };
  started_ = true;
}

void TAfterPulseCalibration::Detach() {
  if (manager_) manager_->FOnManagedDatas = nullptr;
}

void TAfterPulseCalibration::Stop() {
  // The manager points at the arguments: it goes first.
  manager_.reset();
  args_.reset();
}

bool TAfterPulseCalibration::Take(const TManagedProfile& profile) {
  if (!started_ || profile.Open || !LongEnough(profile, integrationTime_)) return false;
  TResult result;
  result.Channel = profile.ChannelID;
  result.Values.reserve(profile.Signal.size());
  for (double v : profile.Signal) result.Values.push_back(Sanitized(v));
  results_[profile.ChannelID] = std::move(result);
  sourceTime_ = profile.StartTime;
  return true;
}

const TAfterPulseCalibration::TResult* TAfterPulseCalibration::Result(int channel) const {
  const auto it = results_.find(channel);
  return it == results_.end() ? nullptr : &it->second;
}

int TAfterPulseCalibration::Store(const std::vector<int>& channels) {
  int saved = 0;
  for (int channel : channels) {
    const TChannelConfig* definition = definition_ ? definition_->FindChannel(channel) : nullptr;
    const int start = definition ? SmoothingStart(definition->DoorsTime) : -1;
    TCalibration* calibration = setup_ ? setup_->FindCalibration(channel) : nullptr;
    const TResult* result = Result(channel);
    if (!calibration || !result) continue;
    if (calibration->AfterPulse.size() > calibration->AfterPulseCount)
      calibration->AfterPulse.resize(calibration->AfterPulseCount);
    Smooth(result->Values, start, calibration->AfterPulse);
    calibration->AfterPulseState = TCalibration::StatePresent;
    calibration->Save(CommentLines(channel, sourceTime_, integrationTime_));
    ++saved;
  }
  return saved;
}

int TAfterPulseCalibration::SmoothingStart(double doorsTime) {
  return static_cast<int>(doorsTime * GatesPerSecond);
}

void TAfterPulseCalibration::Smooth(const std::vector<double>& measured, int start, std::vector<double>& afterPulse) {
  const int count = static_cast<int>(std::min(measured.size(), afterPulse.size()));
  const int last = static_cast<int>(measured.size()) - 1;
  for (int j = 0; j < count; ++j) {
    if (start < 1 || j <= start) {
      afterPulse[j] = measured[j] >= 0 ? measured[j] : 0.0;
      continue;
    }
    const int w = std::clamp(j - start, 0, MaxHalfWidth);
    const int from = j - w;
    const int to = std::min(j + w, last);
    double sum = 0;
    for (int k = from; k <= to; ++k)
      if (measured[k] > 0) sum += std::log(measured[k]);
    // Every gate of the window counts, so gates without signal pull the
    // mean down rather than being ignored.
    const int bins = to - from + 1;
    afterPulse[j] = sum > 0 ? std::exp(sum / bins) : 0.0;
  }
}

bool TAfterPulseCalibration::LongEnough(const TManagedProfile& profile, int integrationTime) {
  // A millisecond of slack: day fractions cannot hold whole seconds exactly.
  const double seconds = (profile.LastTime - profile.StartTime) * SecondsPerDay;
  return seconds + 1e-3 >= MinShareOfTime * integrationTime;
}

double TAfterPulseCalibration::Sanitized(double v) {
  return std::isfinite(v) && std::fabs(v) <= Absurd ? v : 0.0;
}

std::vector<std::string> TAfterPulseCalibration::CommentLines(int channel, TDateTime sourceTime,
                                                              int integrationTime) {
  const TDateTimeParts p = DecodeDateTime(sourceTime);
  char when[64];
  std::snprintf(when, sizeof when, "# Data source : %02d/%02d/%04d,%02d:%02d:%02d", p.Day, p.Month, p.Year, p.Hour,
                p.Minute, p.Second);
  return {"# Channel" + std::to_string(channel), when, "# Integration sec: " + std::to_string(integrationTime), "#"};
}

}  // namespace OrlaqLidar
