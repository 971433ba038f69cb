#pragma once
// Time is injected: the kernel asks its clock, never the system, so that
// tests run in simulated time and never sleep.
#include <atomic>
#include <chrono>
#include <cstdint>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TClock {
 public:
  virtual ~TClock() = default;
  // UTC now as a date-time value.
  virtual TDateTime NowUTC() const = 0;
  // Monotonic milliseconds for time-outs and periods; unaffected by clock steps.
  virtual uint64_t TickMs() const = 0;
};

class TSystemClock : public TClock {
 public:
  TDateTime NowUTC() const override { return SystemNowUTC(); }
  uint64_t TickMs() const override {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

// The system clock whose monotonic tick can be moved ahead: a run in real
// time (integration tests, benchmarks) skips waits such as a channel's
// first-open delay instead of sleeping through them. The wall clock is left alone.
class TSkippableClock : public TClock {
 public:
  TDateTime NowUTC() const override { return system_.NowUTC(); }
  uint64_t TickMs() const override { return system_.TickMs() + skipped_.load(); }
  void Skip(uint64_t ms) { skipped_ += ms; }

 private:
  TSystemClock system_;
  std::atomic<uint64_t> skipped_{0};
};

// Simulated time for tests: only moves when told to.
class TManualClock : public TClock {
 public:
  explicit TManualClock(TDateTime start = EncodeDateTime(2026, 6, 15, 12, 0, 0)) : base_(start) {}
  // Counted from the last setting rather than summed step by step, so that
  // a long run of small steps does not drift from the tick.
  TDateTime NowUTC() const override { return base_ + static_cast<double>(tickMs_ - baseTickMs_) / MsPerDay; }
  uint64_t TickMs() const override { return tickMs_; }
  void AdvanceMs(uint64_t ms) { tickMs_ += ms; }
  // Steps the wall clock only, as an operator or NTP would.
  void SetNow(TDateTime t) {
    base_ = t;
    baseTickMs_ = tickMs_;
  }

 private:
  TDateTime base_;
  uint64_t tickMs_ = 1000000;
  uint64_t baseTickMs_ = 1000000;
};

}  // namespace OrlaqLidar
