#include "app/HeadlessRunner.h"

#include <atomic>
#include <cmath>

#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"
#include "Platform/MainLoop.h"
#include "Platform/Services.h"
#include "kernel/LidarManager.h"
#include "kernel/MonitorData.h"

namespace OrlaqLidar {

namespace {
std::atomic<bool> stopRequested{false};
constexpr uint64_t PowerOffWaitMs = 5000;

uint64_t Tick() { return Services().Clock->TickMs(); }

const char* LevelText(int level) {
  switch (level) {
    case 1: return "low";
    case 2: return "high";
    default: return "out of range";
  }
}
}  // namespace

THeadlessRunner::THeadlessRunner(TLidarManager& source, const TApplicationConfig& config, TMainLoop& loop,
                                 std::ostream& out, bool interactiveOutput)
    : source_(source), config_(config), loop_(loop), out_(out), interactive_(interactiveOutput) {}

THeadlessRunner::~THeadlessRunner() {
  source_.RemoveDataConsumer(this);
  if (phase_ != Phase::Done) source_.RemoveStatusConsumer(this);
}

void THeadlessRunner::RequestStop() { stopRequested = true; }

void THeadlessRunner::Start(double durationSeconds) {
  stopRequested = false;
  startTick_ = lastPrintTick_ = lastRateTick_ = Tick();
  stopTick_ = durationSeconds > 0 ? startTick_ + static_cast<uint64_t>(durationSeconds * 1000.0) : 0;
  source_.AddDataConsumer(this, [this](int id, const uint8_t* data, int length, TDateTime) {
    ++totalRecords_;
    ++perChannel_[id];
    const TChannelConfig* channel = config_.LidarConfig.FindChannel(id);
    if (!channel || channel->Type() != TChannelType::Monitor) return;
    TMonitorData record(channel, data, static_cast<size_t>(length));
    if (!record.IsValid() || !record.First()) return;
    do {
      const int level = record.GetLevel();
      if (level != 0)
        lastAlarm_ = record.GetName() + " " + FormatFixed(record.GetValue(), 2) + " " + record.GetUnit() + " (" +
                     LevelText(level) + ")";
    } while (record.Next());
  });
  source_.AddStatusConsumer(
      this,
      [this](TStatus* status, TState::ChangeRaison reason) {
        if (status->Error() != 0) lastAlarm_ = status->Text;
        // Records lost to the files are worth a line at once, and so is their end.
        if (reason & TState::Recording) PrintStatus(Services().Clock->NowUTC());
      },
      10);
  source_.Start();
}

void THeadlessRunner::Poll() {
  const uint64_t now = Tick();
  if (phase_ == Phase::Running && (stopRequested || (stopTick_ && now >= stopTick_))) BeginShutdown();
  if (phase_ == Phase::SwitchingOff &&
      (source_.Status.PowerState() == TState::LaserOff || now - offRequestTick_ >= PowerOffWaitMs))
    Finish();
  if (phase_ == Phase::Done) return;
  if (now - lastRateTick_ >= 1000) {
    rate_ = static_cast<double>(totalRecords_ - recordsAtLastRate_) * 1000.0 / static_cast<double>(now - lastRateTick_);
    recordsAtLastRate_ = totalRecords_;
    lastRateTick_ = now;
    const uint64_t printEvery = interactive_ ? 1000 : 10000;
    if (now - lastPrintTick_ >= printEvery) {
      lastPrintTick_ = now;
      PrintStatus(Services().Clock->NowUTC());
    }
  }
}

void THeadlessRunner::BeginShutdown() {
  phase_ = Phase::SwitchingOff;
  offRequestTick_ = Tick();
  if (interactive_) out_ << '\n';
  out_ << "Stopping: laser off, then disconnect" << std::endl;
  source_.SetPower(false);
}

void THeadlessRunner::Finish() {
  PrintStatus(Services().Clock->NowUTC());
  if (interactive_) out_ << '\n';
  source_.RemoveStatusConsumer(this);
  source_.Stop();
  phase_ = Phase::Done;
  out_ << "Stopped after " << FormatFixed(static_cast<double>(Tick() - startTick_) / 1000.0, 1) << " s, "
       << totalRecords_ << " records received" << std::endl;
  loop_.Quit(0);
}

std::string THeadlessRunner::StatusLine(TDateTime now, double recordsPerSecond) const {
  const TStatus& s = source_.Status;
  // Appended piece by piece: long operator+ chains trip GCC 12's -Wrestrict.
  std::string line = FormatDateTime(now, false);
  line += " | ";
  line += TStatus::ConnectText(s.ConnectState());
  // What a connection still waits for (the INS, say) is worth a field report.
  if (s.ConnectState() == TState::Connecting && s.Text.rfind("waiting for ", 0) == 0) {
    line += ", ";
    line += s.Text;
  }
  line += " | ";
  line += TStatus::PowerText(s.PowerState());
  line += " | shots";
  bool any = false;
  for (const auto& channel : config_.LidarConfig.Channels) {
    if (channel->Type() != TChannelType::Lidar) continue;
    auto it = perChannel_.find(channel->RecordID);
    line += ' ';
    line += std::to_string(channel->RecordID);
    line += ':';
    line += std::to_string(it == perChannel_.end() ? 0 : it->second);
    any = true;
  }
  if (!any) line += " none";
  line += " | ";
  line += FormatFixed(recordsPerSecond, 1);
  line += " rec/s | alarm: ";
  // Records lost to the recorded files come first, for as long as they are lost.
  std::string alarm = s.RecordingErrorText();
  if (!lastAlarm_.empty()) {
    if (!alarm.empty()) alarm += ", ";
    alarm += lastAlarm_;
  }
  line += alarm.empty() ? std::string("none") : alarm;
  return line;
}

void THeadlessRunner::PrintStatus(TDateTime now) {
  if (profileLine_) {
    // Once per completed profile, kept on the screen above the status.
    const std::string profiles = profileLine_();
    if (!profiles.empty() && profiles != lastProfileLine_) {
      lastProfileLine_ = profiles;
      if (interactive_)
        out_ << '\r' << profiles << "\x1b[K\n";
      else
        out_ << profiles << '\n';
    }
  }
  const std::string line = StatusLine(now, rate_);
  if (interactive_)
    out_ << '\r' << line << "\x1b[K" << std::flush;
  else
    out_ << line << std::endl;
}

}  // namespace OrlaqLidar
