#include "kernel/files/LidarRecorder.h"

#include <cmath>
#include <cstdio>

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
      [this](TStatus*, TState::ChangeRaison) {
        if (file_) file_->Flush();
      },
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

int TLidarRecorder::EnsureFile() {
  const std::filesystem::path path = SlicePath(sliceStart_, source_->GetSerialNumber());
  if (file_ && file_->FileName() == path) return 0;
  syncer_.Watch(-1);
  file_.reset();
  file_ = std::make_unique<TLidFileAccess>(path, *settings_);
  const TLidFileAccess::TInstrumentInfo info = InstrumentInfo(*source_);
  const int result = file_->OpenForWriting(&info);
  syncer_.Watch(result == 0 ? file_->DuplicateDescriptor() : -1);
  if (result != 0)
    Log("Error opening for writing a skv2 file <" + path.string() + "> : " + TLidFileAccess::ErrorText(result));
  return result;
}

bool TLidarRecorder::Prepare(TDateTime time) {
  if (!source_ || source_->Status.PowerState() != TState::LaserOn) return false;
  sliceStart_ = SliceStart(time);
  if (EnsureFile() != 0) return false;
  file_->SeekWritePosition();
  return true;
}

void TLidarRecorder::Record(int channel, const uint8_t* data, int length, TDateTime time) {
  if (!Prepare(time)) return;
  const size_t size = length > 0 ? static_cast<size_t>(length) : 0;
  int result;
  switch (settings_->LidarConfig.ChannelType(channel)) {
    case TChannelType::Lidar: result = file_->WriteShoot(channel, time, data, size); break;
    case TChannelType::Monitor: result = file_->WriteMonitor(channel, time, data, size); break;
    default: result = file_->WriteOption(channel, time, data, size); break;
  }
  if (result < 0)
    Log("Error writing acquisition in skv2 file <" + file_->FileName().string() +
        "> : " + TLidFileAccess::ErrorText(result));
  else
    Written();
}

void TLidarRecorder::Written() { syncer_.Written(); }

void TLidarRecorder::Event(int sourceId, const std::string& code, TDateTime time, const std::string& text) {
  if (!Prepare(time)) return;
  const int result = file_->WriteEvent(sourceId, time, code, text);
  if (result < 0)
    Log("Error writing Event in skv2 file <" + file_->FileName().string() + "> : " + TLidFileAccess::ErrorText(result));
  else
    Written();
}

}  // namespace OrlaqLidar
