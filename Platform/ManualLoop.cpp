#include "Platform/ManualLoop.h"

namespace OrlaqLidar {

void TManualLoop::Post(std::function<void()> fn) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(fn));
}

TMainLoop::TTimerId TManualLoop::StartTimer(int periodMs, std::function<void()> fn) {
  const TTimerId id = nextId_++;
  const int period = periodMs > 0 ? periodMs : 1;
  timers_[id] = Timer{period, clock_.TickMs() + static_cast<uint64_t>(period), std::move(fn)};
  return id;
}

void TManualLoop::StopTimer(TTimerId id) { timers_.erase(id); }

int TManualLoop::ProcessPosted() {
  int count = 0;
  if (hold_) return count;
  for (;;) {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex_);
      batch.swap(posted_);
    }
    if (batch.empty()) return count;
    for (auto& fn : batch) {
      fn();
      ++count;
    }
  }
}

void TManualLoop::AdvanceMs(uint64_t ms) {
  const uint64_t end = clock_.TickMs() + ms;
  ProcessPosted();
  for (;;) {
    // The earliest due timer; ties fire in id (start) order.
    TTimerId next = 0;
    uint64_t due = end + 1;
    for (const auto& [id, t] : timers_)
      if (t.dueMs < due) {
        due = t.dueMs;
        next = id;
      }
    if (next == 0) break;
    clock_.AdvanceMs(due - clock_.TickMs());
    auto fn = timers_[next].fn;  // the callback may stop its own timer
    timers_[next].dueMs += static_cast<uint64_t>(timers_[next].periodMs);
    fn();
    ProcessPosted();
  }
  if (clock_.TickMs() < end) clock_.AdvanceMs(end - clock_.TickMs());
  ProcessPosted();
}

int TManualLoop::RunIdle(int maxCalls) {
  int calls = 0;
  while (idle_ && calls < maxCalls) {
    ++calls;
    const bool more = idle_();
    ProcessPosted();
    if (!more) break;
  }
  return calls;
}

}  // namespace OrlaqLidar
