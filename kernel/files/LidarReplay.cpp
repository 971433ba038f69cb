#include "kernel/files/LidarReplay.h"

#include <algorithm>
#include <filesystem>

#include "Config/ApplicationConfig.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

namespace {
// The same file under another spelling (relative path, link) is still the
// same file; two names differing only in case are two files here.
bool SameFile(const fs::path& a, const fs::path& b) {
  if (a == b) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}
}  // namespace

TLidarReplay::TLidarReplay(TApplicationConfig* settings)
    : TLidarManager(settings, SourceName, true), creationTime_(Services().Clock->NowUTC()) {
  // Consumers follow the replay state and hear of a refused file.
  Status.ChangeMask = TState::Connect | TState::Power | TState::Error | TState::Replay;
}

TLidarReplay::~TLidarReplay() {
  if (idleInstalled_ && Services().Loop) Services().Loop->SetIdleHandler({});
  Status.OnChange = nullptr;
  ClearFiles();
}

void TLidarReplay::SetReplay(uint8_t state, const std::string& text) {
  // The text first: consumers read it when the state change reaches them.
  Status.Text = text;
  Status.SetReplayState(state);
}

bool TLidarReplay::Open() {
  ClearFiles();
  SetReplay(ReplayIdle, "Ready");
  return true;
}

bool TLidarReplay::Close() {
  SetReplay(ReplayIdle, "Closed");
  CloseCurrent();
  ClearFiles();
  return true;
}

bool TLidarReplay::SetPower(bool /*on*/) { return true; }

void TLidarReplay::ClearFiles() {
  CloseCurrent();
  files_.clear();
  index_ = -1;
  stopTime_ = 0;
  serialNumber_.clear();
  refusal_.clear();
  Status.SetError(0);
}

bool TLidarReplay::AddFile(const std::string& fileName) {
  stopTime_ = 0;
  refusal_.clear();
  for (const auto& f : files_)
    if (SameFile(f->FileName(), fileName)) return true;

  auto file = std::make_unique<TLidFileAccess>(fileName, *Settings());
  const int rc = indexWhileReading_ ? file->IndexFirstBlock() : file->MakeIndex();
  if (rc < 0) {
    refusal_ = "not a readable recorded data file (" + TLidFileAccess::ErrorText(rc) + ")";
    return false;
  }
  if (file->IndexCount() == 0) {
    refusal_ = "an empty recording (no data block)";
    return false;
  }
  if (!files_.empty() && file->SerialNumber() != files_.front()->SerialNumber()) {
    Status.Text = ForeignInstrumentText;
    Status.SetError(ForeignInstrumentError);
    refusal_ = std::string(ForeignInstrumentText) + " (serial number " + file->SerialNumber() +
               ", the loaded files are of " + files_.front()->SerialNumber() + ")";
    return false;
  }
  if (files_.empty()) index_ = 0;
  files_.push_back(std::move(file));
  if (index_ == 0) SortFiles();

  const std::string& serial = files_.front()->SerialNumber();
  if (serial != serialNumber_) {
    serialNumber_ = serial;
    Settings()->Setup.SerialNumber = serial;
    // Processing then uses the calibration folder of that instrument.
    if (!Settings()->Setup.UseEmbeddedCalib) Settings()->ReloadCalibrations();
  }
  return true;
}

void TLidarReplay::SortFiles() {
  std::stable_sort(files_.begin(), files_.end(),
                   [](const auto& a, const auto& b) { return a->FirstIndexTime() < b->FirstIndexTime(); });
  // A file being read keeps its place in the reading order.
  if (!current_) return;
  for (size_t i = 0; i < files_.size(); ++i)
    if (files_[i].get() == current_) index_ = static_cast<int>(i);
}

void TLidarReplay::CloseCurrent() {
  if (!current_) return;
  current_->Close();
  current_->OnData = nullptr;
  current_->OnEvent = nullptr;
  current_->OnCalibration = nullptr;
  current_ = nullptr;
}

void TLidarReplay::Rewind() {
  CloseCurrent();
  index_ = files_.empty() ? -1 : 0;
  stopTime_ = 0;
}

void TLidarReplay::ToEnd() {
  Rewind();
  index_ = static_cast<int>(files_.size());
}

std::string TLidarReplay::CurrentFileName() const { return current_ ? current_->FileName().string() : std::string(); }

bool TLidarReplay::OpenCurrent() {
  if (index_ < 0 || static_cast<size_t>(index_) >= files_.size()) return false;
  TLidFileAccess* file = files_[static_cast<size_t>(index_)].get();
  TLidarSetup& setup = Settings()->Setup;
  // The setup ignores the items unless it is told to use the embedded calibrations.
  file->OnCalibration = [&setup](int channel, int kind, const uint8_t* data, size_t size) {
    setup.EmbedCalibration(channel, kind, data, size);
  };
  if (file->OpenForReading() < 0) {
    file->OnCalibration = nullptr;
    return false;
  }
  current_ = file;
  return true;
}

bool TLidarReplay::BeginReading() {
  if (!current_ && !OpenCurrent()) return false;
  current_->OnData = [this](int channel, const uint8_t* data, size_t size, TDateTime time) {
    DispatchRecord(channel, data, static_cast<int>(size), time);
  };
  current_->OnEvent = [this](int channel, const std::string& code, const std::string& text, TDateTime time) {
    DispatchEvent(channel, code, time, text);
  };
  return true;
}

bool TLidarReplay::Start() {
  if (!BeginReading()) return false;
  if (!idleInstalled_ && Services().Loop) {
    Services().Loop->SetIdleHandler([this] { return OnIdle(); });
    idleInstalled_ = true;
  }
  SetReplay(ReplayLoading, "Loading...");
  return true;
}

bool TLidarReplay::OnIdle() {
  bool done = !current_;
  if (!done) {
    if (current_->ReadBlocks(BlocksPerIdleCall, stopTime_) == BlocksPerIdleCall) return true;
    CloseCurrent();
    // On to the next file that opens; one that does not is skipped.
    for (;;) {
      ++index_;
      if (static_cast<size_t>(index_) >= files_.size()) {
        done = true;
        break;
      }
      if (BeginReading()) break;
    }
    if (!done && stopTime_ != 0 && current_->FirstIndexTime() > stopTime_) done = true;
  }
  if (!done) {
    if (Status.ReplayState() == ReplayLoading) SetReplay(ReplayLoadingFiles, "Loading Files...");
    return true;
  }
  Stop();
  return false;
}

bool TLidarReplay::Stop() {
  if (idleInstalled_ && Services().Loop) Services().Loop->SetIdleHandler({});
  idleInstalled_ = false;
  CloseCurrent();
  if (Status.ReplayState() == ReplayDone) return true;
  SortFiles();
  SetReplay(ReplayDone, "Done");
  return true;
}

bool TLidarReplay::Goto(TDateTime time, TDateTime stopTime, double toleranceSeconds) {
  for (size_t i = 0; i < files_.size(); ++i) {
    TLidFileAccess* file = files_[i].get();
    if (!file->SeekTime(time, toleranceSeconds)) continue;
    if (current_ != file) {
      CloseCurrent();
      if (file->OpenForSearching() < 0) return false;
      current_ = file;
    }
    current_->SeekTime(time, toleranceSeconds);
    index_ = static_cast<int>(i);
    stopTime_ = stopTime;
    return true;
  }
  return false;
}

}  // namespace OrlaqLidar
