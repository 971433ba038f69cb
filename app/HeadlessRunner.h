#pragma once
// Acquisition without windows, for a field station without a screen:
// connect, switch the laser on (and on again after a recovery), run until
// a signal or the requested duration, then laser off, disconnect, exit 0.
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "Common/DateTime.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TLidarManager;
class TMainLoop;
class TApplicationConfig;

class THeadlessRunner {
 public:
  THeadlessRunner(TLidarManager& source, const TApplicationConfig& config, TMainLoop& loop, std::ostream& out,
                  bool interactiveOutput);
  ~THeadlessRunner();

  // Starts acquisition; the run ends by RequestStop (or the duration).
  void Start(double durationSeconds);
  // Safe from a signal handler's point of view: only sets a flag.
  static void RequestStop();
  // Called every 100 ms by the owner's timer.
  void Poll();
  bool Finished() const { return phase_ == Phase::Done; }

  // A line printed above the status whenever its text changes (the
  // completed profiles); empty text prints nothing.
  void SetProfileLine(std::function<std::string()> producer) { profileLine_ = std::move(producer); }

  // One status line of the current state (also used by tests).
  std::string StatusLine(TDateTime now, double recordsPerSecond) const;

 private:
  enum class Phase { Running, SwitchingOff, Done };
  void BeginShutdown();
  void Finish();
  void PrintStatus(TDateTime now);

  TLidarManager& source_;
  const TApplicationConfig& config_;
  TMainLoop& loop_;
  std::ostream& out_;
  bool interactive_;
  Phase phase_ = Phase::Running;
  uint64_t startTick_ = 0;
  uint64_t stopTick_ = 0;  // 0: no duration
  uint64_t offRequestTick_ = 0;
  uint64_t lastPrintTick_ = 0;
  uint64_t lastRateTick_ = 0;
  uint64_t recordsAtLastRate_ = 0;
  uint64_t totalRecords_ = 0;
  double rate_ = 0;
  std::map<int, uint64_t> perChannel_;
  std::string lastAlarm_;
  std::function<std::string()> profileLine_;
  std::string lastProfileLine_;
};

}  // namespace OrlaqLidar
