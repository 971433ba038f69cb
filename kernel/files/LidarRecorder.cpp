#include "kernel/files/LidarRecorder.h"

#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "Common/FileUtils.h"
#include "Common/PathSafeName.h"
#include "Config/ApplicationConfig.h"
#include "kernel/ErrorLogger.h"
#include "kernel/files/LidFileAccess.h"
#include "kernel/comm/Airins.h"
#include "kernel/comm/Lidar.h"
#include "kernel/LidarAcquisition.h"
#include "kernel/comm/LidarChannel.h"
#include "kernel/comm/MonitorChannel.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

TLidarRecorder::TLidarRecorder(TApplicationConfig* settings)
    : settings_(settings), sliceStart_(Services().Clock->NowUTC()) {}

TLidarRecorder::~TLidarRecorder() {
  Detach();
  file_.reset();  // closing appends the end block
}

void TLidarRecorder::Attach(TLidarAcquisition* source) {
  Detach();
  source_ = source;
  if (!source_) return;
  source_->AddDataConsumer(this, [this](int ch, const uint8_t* d, int n, TDateTime t) { Record(ch, d, n, t); });
  // After the data managers and the application object, before the window.
  source_->AddStatusConsumer(
      this,
      [this](TStatus*, TState::ChangeRaison) { Flush(); },
      99);
  source_->AddEventConsumer(this, [this](int id, const std::string& code, TDateTime t, const std::string& text) {
    Event(id, code, t, text);
  });
}

void TLidarRecorder::Detach() {
  if (!source_) return;
  source_->RemoveDataConsumer(this);
  source_->RemoveStatusConsumer(this);
  source_->RemoveEventConsumer(this);
  source_ = nullptr;
}

TDateTime TLidarRecorder::SliceStart(TDateTime t, int sliceMinutes) {
  const double day = std::floor(t);
  // Whole milliseconds of the day, so that 11:00:00.000 never rounds down into 10:59.
  const long long msOfDay = std::llround((t - day) * MsPerDay);
  const long long minutes = msOfDay / 60000;
  const long long k = minutes / sliceMinutes;
  return day + static_cast<double>(k * sliceMinutes) / 1440.0;
}

std::filesystem::path TLidarRecorder::SlicePath(TDateTime sliceStart, const std::string& rawSerial) const {
  // The serial number comes from the instrument's answer: it must never be
  // able to name another folder in the data tree.
  const std::string serial = PathSafeName(rawSerial);
  const TDateTimeParts p = DecodeDateTime(sliceStart);
  char month[16], name[96];
  std::snprintf(month, sizeof month, "%04d%02d", p.Year, p.Month);
  std::snprintf(name, sizeof name, "LID_%s_%04d%02d%02d_%02d%02d.skv2", serial.c_str(), p.Year, p.Month, p.Day,
                p.Hour, p.Minute);
  return std::filesystem::path(settings_->DataFolder) / ("DIR_" + serial) / month / name;
}

namespace {
// What the header of a new file says about the live instrument.
TLidFileAccess::TInstrumentInfo InstrumentInfo(TLidarAcquisition& source) {
  TLidFileAccess::TInstrumentInfo info;
  info.SerialNumber = source.GetSerialNumber();
  if (TLidar* lidar = source.Lidar()) {
    for (const auto& ch : lidar->LidarChannels()) info.LidarChannels.push_back({ch->Config().RecordID, ch->Version()});
    for (const auto& ch : lidar->MonitorChannels())
      info.MonitorChannels.push_back({ch->Config().RecordID, ch->Version()});
  }
  if (source.Airins()) {
    info.HasAirins = true;
    info.AirinsRecordID = source.Airins()->GetRecordID();
  }
  return info;
}
}  // namespace

namespace {
uint64_t Tick() { return Services().Clock->TickMs(); }
}  // namespace

bool TLidarRecorder::Open(const std::filesystem::path& path, std::string& failure) {
  syncer_.Watch(-1);
  if (fileReady_) {
    // Records out of time order may switch back to it: no need to walk
    // its blocks again then.
    closedPath_ = file_->FileName();
    closedEnd_ = file_->EndOfData();
  }
  file_.reset();  // closing appends the end block
  fileReady_ = false;
  lastOpenTick_ = lastLinkCheckTick_ = Tick();
  const TLidFileAccess::TInstrumentInfo info = InstrumentInfo(*source_);
  file_ = std::make_unique<TLidFileAccess>(path, *settings_);
  int result = file_->OpenForWriting(&info, path == closedPath_ ? closedEnd_ : 0);
  if (result != 0 && file_->Damaged()) {
    // Neither written into nor repaired: what it holds stays as it is,
    // beside the new file of the same name.
    file_ = std::make_unique<TLidFileAccess>(path, *settings_);
    std::string error;
    if (const auto aside = MoveAsideNumbered(path, DamagedSuffix, error)) {
      Log("Damaged skv2 file <" + path.string() + "> moved aside to <" + aside->string() +
          ">, recording goes on in a new file");
      result = file_->OpenForWriting(&info);
    } else {
      Log("Damaged skv2 file <" + path.string() + "> cannot be moved aside: " + error);
    }
  }
  if (result != 0) {
    failure = "Error opening for writing a skv2 file <" + path.string() + "> : " + TLidFileAccess::ErrorText(result);
    return false;
  }
  fileReady_ = true;
  endAtLinkCheck_ = file_->EndOfData();
  blocksSinceCheck_ = 0;
  syncer_.Watch(file_->DuplicateDescriptor());
  return true;
}

bool TLidarRecorder::EnsureFile(std::string& failure) {
  const std::filesystem::path path = SlicePath(sliceStart_, source_->GetSerialNumber());
  const uint64_t now = Tick();
  if (!fileReady_) {
    // Whatever kept the last file from opening likely keeps the next one too.
    if (file_ && now - lastOpenTick_ < RetryOpenMs) return false;
    return Open(path, failure);
  }
  if (file_->FileName() != path) return Open(path, failure);
  if (now - lastLinkCheckTick_ < LinkCheckMs) return true;
  lastLinkCheckTick_ = now;
  const TLidFileStream::TLink link = file_->LinkState();
  if (link == TLidFileStream::TLink::AtPath) {
    endAtLinkCheck_ = file_->EndOfData();
    blocksSinceCheck_ = 0;
    return true;
  }
  // Deleted (with its folder, as like as not): the blocks written since the
  // last check go with it unless carried into the new file. Moved away,
  // it keeps them.
  const bool deleted = link == TLidFileStream::TLink::Deleted;
  std::vector<uint8_t> carried;
  if (deleted) carried = file_->BlocksFrom(endAtLinkCheck_);
  const uint64_t carriedBlocks = deleted ? blocksSinceCheck_ : 0;
  Log("Recorded file <" + path.string() + "> is " + (deleted ? "deleted" : "no longer at its place") +
      ", recording goes on in a new one there");
  const bool opened = Open(path, failure);
  if (carriedBlocks == 0) return opened;
  if (opened && !carried.empty() && file_->AppendBlocks(carried) >= 0) {
    blocksSinceCheck_ = carriedBlocks;
  } else {
    notWritten_ += carriedBlocks;
    source_->Status.SetRecordsNotWritten(notWritten_);
  }
  return opened;
}

bool TLidarRecorder::Prepare(TDateTime time, std::string& failure) {
  sliceStart_ = SliceStart(time);
  if (!EnsureFile(failure)) return false;
  file_->SeekWritePosition();
  return true;
}

void TLidarRecorder::Written() {
  ++blocksSinceCheck_;
  syncer_.Written();
  if (const int err = syncer_.TakeError())
    Log("Error syncing skv2 file <" + file_->FileName().string() + "> : " + std::system_category().message(err));
  lastFailure_.clear();
  if (notWritten_ == 0) return;
  Log("Recording goes on in skv2 file <" + file_->FileName().string() + "> after " + std::to_string(notWritten_) +
      " records not written");
  notWritten_ = 0;
  source_->Status.SetRecordsNotWritten(0);
}

void TLidarRecorder::NotWritten(const std::string& failure) {
  // The first of a run of identical failures says it all; the count goes on
  // in the status and is logged when writing works again.
  if (!failure.empty() && failure != lastFailure_) {
    Log(failure);
    lastFailure_ = failure;
  }
  ++notWritten_;
  source_->Status.SetRecordsNotWritten(notWritten_);
}

void TLidarRecorder::Record(int channel, const uint8_t* data, int length, TDateTime time) {
  if (!source_ || source_->Status.PowerState() != TState::LaserOn) return;
  std::string failure;
  if (!Prepare(time, failure)) return NotWritten(failure);
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  int result;
  switch (settings_->LidarConfig.ChannelType(channel)) {
    case TChannelType::Lidar: result = file_->WriteShoot(channel, time, data, size); break;
    case TChannelType::Monitor: result = file_->WriteMonitor(channel, time, data, size); break;
    default: result = file_->WriteOption(channel, time, data, size); break;
  }
  if (result < 0)
    NotWritten("Error writing acquisition in skv2 file <" + file_->FileName().string() +
               "> : " + TLidFileAccess::ErrorText(result));
  else
    Written();
}

void TLidarRecorder::Event(int sourceId, const std::string& code, TDateTime time, const std::string& text) {
  if (!source_ || source_->Status.PowerState() != TState::LaserOn) return;
  std::string failure;
  if (!Prepare(time, failure)) return NotWritten(failure);
  const int result = file_->WriteEvent(sourceId, time, code, text);
  if (result < 0)
    NotWritten("Error writing Event in skv2 file <" + file_->FileName().string() +
               "> : " + TLidFileAccess::ErrorText(result));
  else
    Written();
}

void TLidarRecorder::Flush() {
  if (!fileReady_) return;
  if (!file_->Flush())
    Log("Error flushing skv2 file <" + file_->FileName().string() + "> : " +
        TLidFileAccess::ErrorText(-TLidFileAccess::ReadWriteError));
}

}  // namespace OrlaqLidar
