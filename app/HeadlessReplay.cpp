#include "app/HeadlessReplay.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>

#include "Common/StringUtils.h"
#include "Platform/Services.h"
#include "kernel/files/LidarReplay.h"

namespace OrlaqLidar {

namespace {
std::atomic<bool> stopRequested{false};

uint64_t Tick() { return Services().Clock->TickMs(); }
}  // namespace

THeadlessReplay::THeadlessReplay(TLidarReplay& replay, std::ostream& out, std::ostream& err, bool interactiveOutput)
    : replay_(replay), out_(out), err_(err), interactive_(interactiveOutput) {}

THeadlessReplay::~THeadlessReplay() {
  replay_.RemoveDataConsumer(this);
  replay_.RemoveEventConsumer(this);
}

void THeadlessReplay::RequestStop() { stopRequested = true; }

size_t THeadlessReplay::Load(const std::vector<std::string>& files) {
  replay_.ClearFiles();
  replay_.Rewind();
  // Every file is read once from its start: indexed on the way, not in a
  // pass of its own.
  replay_.SetIndexWhileReading(true);
  for (const std::string& name : files) {
    if (!replay_.AddFile(name)) {
      ++refused_;
      const bool skv2 = LowerCase(std::filesystem::path(name).extension().string()) == ".skv2";
      err_ << "skyvane: " << name << ": refused, "
           << (skv2 ? replay_.RefusalReason() : "not a .skv2 recording (" + replay_.RefusalReason() + ")")
           << std::endl;
      continue;
    }
    // No end mark closing the file: a recording cut by a crash.
    for (size_t i = 0; i < replay_.FileCount(); ++i) {
      const TLidFileAccess& file = replay_.File(i);
      if (file.FileName() == name && !file.EndMarkAtEnd())
        err_ << "skyvane: " << name << ": truncated recording, replayed up to its last whole block" << std::endl;
    }
  }
  // A file named twice is one file.
  named_ = replay_.FileCount() + refused_;
  return refused_;
}

int THeadlessReplay::Run(const std::vector<std::string>& files) {
  stopRequested = false;
  Load(files);
  return Replay() && refused_ == 0 ? 0 : 1;
}

bool THeadlessReplay::Replay() {
  stopRequested = false;
  replay_.AddDataConsumer(this, [this](int, const uint8_t*, int, TDateTime time) {
    ++blocks_;
    lastTime_ = time;
  });
  replay_.AddEventConsumer(this, [this](int, const std::string&, TDateTime time, const std::string&) {
    ++blocks_;
    lastTime_ = time;
  });

  const uint64_t start = Tick();
  uint64_t lastPrint = start, lastRate = start, blocksAtLastRate = 0;
  double rate = 0;
  const bool progressLines = !quiet_ && (interactive_ || periodic_);
  bool completed = replay_.FileCount() == 0;
  if (!completed && replay_.Start()) {
    // Back to back: the replay is limited by reading, not by the loop.
    while (!stopRequested && replay_.OnIdle()) {
      const uint64_t now = Tick();
      if (now - lastRate < 1000) continue;
      rate = static_cast<double>(blocks_ - blocksAtLastRate) * 1000.0 / static_cast<double>(now - lastRate);
      blocksAtLastRate = blocks_;
      lastRate = now;
      if (progressLines && now - lastPrint >= (interactive_ ? 1000u : 10000u)) {
        lastPrint = now;
        // The rest of the recordings' data at the pace so far.
        const double done = Progress();
        const double left = done > 0.001 ? static_cast<double>(now - start) / 1000.0 * (1 - done) / done : -1;
        PrintStatus(rate, left);
      }
    }
    completed = !stopRequested;
    if (!completed) replay_.Stop();
  }
  // Closed by an end mark, yet the reading stopped short of it: a damaged
  // block (its position is in the message log).
  for (size_t i = 0; completed && i < replay_.FileCount(); ++i) {
    const TLidFileAccess& file = replay_.File(i);
    if (file.EndMarkAtEnd() && !file.EndMarkReached())
      err_ << "skyvane: " << file.FileName().string() << ": damaged recording, replayed up to the damaged block"
           << std::endl;
  }
  const uint64_t elapsed = std::max<uint64_t>(Tick() - start, 1);
  if (quiet_) return completed;
  if (progressLines) {
    PrintStatus(static_cast<double>(blocks_) * 1000.0 / static_cast<double>(elapsed), -1);
    if (interactive_) out_ << '\n';
  }
  out_ << (completed ? "Replayed " : "Stopped after ") << blocks_ << " blocks from " << FilesDone() << " of "
       << named_ << " files in " << FormatFixed(static_cast<double>(elapsed) / 1000.0, 1) << " s" << std::endl;
  return completed;
}

double THeadlessReplay::Progress() const {
  // By bytes: a file not read yet is indexed up to its first block only.
  double total = 0, done = 0;
  const int current = replay_.CurrentIndex();
  for (size_t i = 0; i < replay_.FileCount(); ++i) {
    const TLidFileAccess& file = replay_.File(i);
    const uint64_t start = file.DataStart();
    const double size = file.EndOfData() > start ? static_cast<double>(file.EndOfData() - start) : 0.0;
    total += size;
    if (current >= 0 && static_cast<int>(i) < current)
      done += size;
    else if (static_cast<int>(i) == current && file.IsOpen() && file.Position() > start)
      done += std::min(static_cast<double>(file.Position() - start), size);
  }
  return total > 0 ? std::clamp(done / total, 0.0, 1.0) : 0;
}

size_t THeadlessReplay::FilesDone() const {
  // Every file before the current index has been read to its end.
  const int index = replay_.CurrentIndex();
  return index < 0 ? 0 : std::min(static_cast<size_t>(index), replay_.FileCount());
}

std::string THeadlessReplay::StatusLine(double blocksPerSecond, double secondsLeft) const {
  std::string line = lastTime_ != 0 ? FormatDateTime(lastTime_, false) : std::string("no block yet");
  line += " | files ";
  line += std::to_string(FilesDone());
  line += '/';
  line += std::to_string(named_);
  line += " | blocks ";
  line += std::to_string(blocks_);
  line += " | ";
  line += FormatFixed(blocksPerSecond, 1);
  line += " blocks/s | ";
  if (secondsLeft >= 0) {
    const long long s = std::llround(secondsLeft);
    line += std::to_string(s / 60) + ":" + (s % 60 < 10 ? "0" : "") + std::to_string(s % 60) + " left | ";
  }
  line += replay_.Status.Text;
  return line;
}

void THeadlessReplay::PrintStatus(double blocksPerSecond, double secondsLeft) {
  const std::string line = StatusLine(blocksPerSecond, secondsLeft);
  if (interactive_)
    out_ << '\r' << line << "\x1b[K" << std::flush;
  else
    out_ << line << std::endl;
}

}  // namespace OrlaqLidar
