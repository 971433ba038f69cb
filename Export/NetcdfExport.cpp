#include "Export/NetcdfExport.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <utility>

#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/ErrorLogger.h"
#include "kernel/processing/DistanceCompute.h"
#include "Platform/Services.h"

namespace OrlaqExport {

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {
constexpr double RadiansToDegrees = 180.0 / 3.14159265358979323846;
}

bool TNetcdfExport::SetArguments(const TProcessingArgs* arguments) {
  Close();
  return TExportTemplate::SetArguments(arguments);
}

bool TNetcdfExport::SetParameters(const TExportParameters* parameters) {
  TExportTemplate::SetParameters(parameters);
  refusal_.clear();
  channels_.clear();
  if (!parameters) return true;
  if (!arguments_ || !arguments_->Definition || !arguments_->LidarSetup) {
    refusal_ = "no instrument definition to export";
    return false;
  }
  return SelectChannels();
}

std::vector<const TChannelConfig*> TNetcdfExport::LidarChannels() const {
  std::vector<const TChannelConfig*> list;
  for (const auto& c : arguments_->Definition->Channels)
    if (c && c->Type() == TChannelType::Lidar) list.push_back(c.get());
  return list;
}

double TNetcdfExport::PointingAngle() const {
  const TLidarSetup& s = *arguments_->LidarSetup;
  return TDistanceCompute::ZenithAngle(s.RollBase, s.PitchBase) * RadiansToDegrees;
}

long long TNetcdfExport::PeriodOf(const TManagedProfile& profile) {
  const long long seconds = static_cast<long long>(std::floor(DateTimeToUnix(profile.StartTime) + 1e-6));
  return profile.ProfileTime > 0 ? seconds / profile.ProfileTime : seconds;
}

bool TNetcdfExport::WriteProfile(const TProfile& handle) {
  const TManagedProfile& profile = *handle;
  NewData(profile.StartTime);
  if (!parameters_ || channels_.empty()) return false;
  size_t channel = 0;
  while (channel < channels_.size() && channels_[channel].Config->RecordID != profile.ChannelID) ++channel;
  if (channel == channels_.size()) return true;  // a channel the file leaves out
  const long long period = PeriodOf(profile);
  try {
    if (!row_ || row_->Period != period || row_->Present[channel]) {
      const std::string name = FileNameFor(profile.StartTime);
      if (name != file_.Name()) {
        Settle(0);
        OpenFileFor(profile, name);
      }
      // What a continued file holds already is not written twice.
      if (hasStored_ && period <= lastStoredPeriod_) return true;
      row_ = TRow{rows_, period, profile.StartTime, profile.LastTime, std::vector<bool>(channels_.size(), false)};
      ++rows_;
    }
    row_->Start = std::min(row_->Start, profile.StartTime);
    row_->Stop = std::max(row_->Stop, profile.LastTime);
    row_->Present[channel] = true;
    if (behind_) {
      WriteRowBehind(profile, channel);
    } else {
      WriteRow(profile, channel, *row_);
      SyncWhenDue();
    }
    hasStored_ = true;
    lastStoredPeriod_ = period;
    return true;
  } catch (const ENetcdfError& e) {
    Log("Can't write NetCDF export <" + FileNameFor(profile.StartTime) + ">: " + e.what());
    // The next profile starts over with the file as it is on disk.
    file_.Close();
    row_.reset();
    return false;
  }
}

bool TNetcdfExport::SyncDue() const {
  // A sync costs about as much as processing the profile; an export of
  // recorded files syncs once a second (and at close) instead.
  return !fromRecording_ || !lastSync_ || Services().Clock->TickMs() - *lastSync_ >= RecordedSyncMs;
}

void TNetcdfExport::SyncWhenDue() {
  if (!SyncDue()) return;
  WritePending();
  file_.Sync();
  lastSync_ = Services().Clock->TickMs();
}

void TNetcdfExport::WriteRowBehind(const TManagedProfile& profile, size_t channel) {
  // What WriteRow reads of a profile; the profile itself is refilled meanwhile.
  auto copy = std::make_shared<TManagedProfile>(profile.ChannelID, nullptr, nullptr, profile.ProfileTime, nullptr);
  copy->DoorCount = profile.DoorCount;
  copy->LaserShots = profile.LaserShots;
  copy->StartTime = profile.StartTime;
  copy->LastTime = profile.LastTime;
  copy->Signal = profile.Signal;
  copy->RawCounts = profile.RawCounts;
  copy->Open = false;
  const bool sync = SyncDue();
  if (sync) lastSync_ = Services().Clock->TickMs();
  // The file and the members WriteRow uses are left alone here until the
  // queue is settled.
  behind_->Make([this, copy, channel, row = *row_, sync]() -> std::string {
    try {
      WriteRow(*copy, channel, row);
      if (sync) {
        WritePending();
        file_.Sync();
      }
      return {};
    } catch (const ENetcdfError& e) {
      return "Can't write NetCDF export <" + file_.Name() + ">: " + e.what();
    }
  });
  Settle(MaxQueued);
}

void TNetcdfExport::Settle(size_t keep) {
  if (!behind_) return;
  bool failed = false;
  const auto take = [&](std::string&& error) {
    if (error.empty()) return;
    Log(error);
    ++lateFailures_;
    failed = true;
  };
  behind_->Take(keep, take);
  if (!failed) return;
  // The next profile starts over with the file as it is on disk.
  behind_->Take(0, take);
  file_.Close();
  row_.reset();
}

void TNetcdfExport::SetWorkBehind(bool on) {
  Settle(0);
  behind_ = on ? std::make_unique<TOrderedWork>() : nullptr;
}

long long TNetcdfExport::Flush() {
  Settle(0);
  return std::exchange(lateFailures_, 0);
}

void TNetcdfExport::OpenFileFor(const TManagedProfile& profile, const std::string& name) {
  if (file_.IsOpen()) WritePending();
  file_.Close();
  row_.reset();
  rows_ = 0;
  hasStored_ = false;
  lastStoredPeriod_ = -1;
  std::error_code ec;
  const fs::path parent = fs::path(name).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  if (fs::exists(name, ec)) {
    try {
      file_.Open(name, true);
      TDateTime lastStart = 0;
      rows_ = StoredRows(lastStart);
      file_.WriteChunksThrough();
      if (rows_ > 0) {
        hasStored_ = true;
        lastStoredPeriod_ = profile.ProfileTime > 0
                                ? static_cast<long long>(std::floor(DateTimeToUnix(lastStart) + 1e-6)) / profile.ProfileTime
                                : static_cast<long long>(std::floor(DateTimeToUnix(lastStart) + 1e-6));
      }
      return;
    } catch (const ENetcdfError& e) {
      // A file that cannot be continued is kept for whoever can still read
      // it; the export goes on in a new one.
      file_.Close();
      std::string aside;
      for (int n = 1; aside.empty() || fs::exists(aside, ec); ++n) aside = name + ".unreadable-" + std::to_string(n);
      fs::rename(name, aside, ec);
      Log("NetCDF export <" + name + "> cannot be continued (" + e.what() + "): kept as <" + aside + ">");
      if (ec) throw ENetcdfError("setting aside " + name + ": " + ec.message());
    }
  }
  file_.Create(name, true);
  try {
    DefineFile(profile);
    file_.WriteChunksThrough();
  } catch (...) {
    // A file without its layout would refuse every later profile.
    file_.Close();
    fs::remove(name, ec);
    throw;
  }
}

bool TNetcdfExport::Close() {
  Settle(0);
  bool ok = true;
  try {
    if (file_.IsOpen()) WritePending();
  } catch (const ENetcdfError& e) {
    Log("Can't complete NetCDF export <" + file_.Name() + ">: " + e.what());
    ok = false;
  }
  file_.Close();
  row_.reset();
  rows_ = 0;
  hasStored_ = false;
  lastStoredPeriod_ = -1;
  ResetLastTime();
  return ok;
}

}  // namespace OrlaqExport
