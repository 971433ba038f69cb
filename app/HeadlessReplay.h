#pragma once
// Reader mode without windows: replays the named files through the kernel
// as fast as they can be read (the idle reader called back to back, not
// paced by the loop), reports what it cannot use, and ends.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TLidarReplay;

class THeadlessReplay {
 public:
  THeadlessReplay(TLidarReplay& replay, std::ostream& out, std::ostream& err, bool interactiveOutput);
  ~THeadlessReplay();

  // Loads and replays the files. 0 when every file was replayed to its end
  // (a truncated one up to its last whole block); 1 when a file was refused
  // or the run was stopped.
  int Run(const std::vector<std::string>& files);
  // The two halves of Run. Load says why each refused file is refused and
  // returns how many were; Replay returns true when the replay ran to its end.
  size_t Load(const std::vector<std::string>& files);
  bool Replay();
  // Without periodic lines, a status line is printed only when the output
  // is interactive (then it is redrawn in place); quiet prints nothing.
  void SetOutput(bool periodicLines, bool quiet) {
    periodic_ = periodicLines;
    quiet_ = quiet;
  }
  // Only sets a flag: safe from a signal handler.
  static void RequestStop();

  // "<time of the last block> | files <done>/<named> | blocks <n> | <r> blocks/s[ | <t> left] | <state>"
  // secondsLeft < 0: not known yet.
  std::string StatusLine(double blocksPerSecond, double secondsLeft = -1) const;
  // Share of the loaded recordings' data replayed, 0..1.
  double Progress() const;

 private:
  void PrintStatus(double blocksPerSecond, double secondsLeft);
  size_t FilesDone() const;

  TLidarReplay& replay_;
  std::ostream& out_;
  std::ostream& err_;
  bool interactive_;
  bool periodic_ = true;
  bool quiet_ = false;
  size_t named_ = 0;
  size_t refused_ = 0;
  uint64_t blocks_ = 0;
  TDateTime lastTime_ = 0;
};

}  // namespace OrlaqLidar
