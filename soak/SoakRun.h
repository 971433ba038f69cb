#pragma once
// A field station left alone for a simulated span: the program's
// application object (instrument, INS link, recorder) runs headless on the
// simulated instrument in simulated time, through the fault schedule, and
// the recorded files are then read back and weighed against what the
// simulator delivered.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "Common/DateTime.h"
#include "soak/SoakFigures.h"

namespace OrlaqLidar {

class TLidarApplication;

struct TSoakOptions {
  // A few hours before a midnight that ends a month and a year.
  TDateTime Start = EncodeDateTime(2026, 12, 31, 20, 0, 0);
  double Days = 7;
  std::string Definition;          // empty: the soak instrument shipped with the harness
  std::filesystem::path Folder;    // empty: a private temporary folder, removed after
  int InsRateHz = 1;
  uint64_t Seed = 1;
  // Time a fault may take to heal once it ended: records may be missing
  // until then, and recovery is judged then.
  uint64_t RecoveryMarginMs = 60000;
  std::ostream* Progress = nullptr;  // one line per simulated day
  std::ostream* Log = nullptr;       // the program's message log
};

class TSoakRun {
 public:
  explicit TSoakRun(TSoakOptions options);
  ~TSoakRun();
  TSoakRun(const TSoakRun&) = delete;
  TSoakRun& operator=(const TSoakRun&) = delete;

  // False, with Error(), when the acquisition could not be set up.
  bool Run();
  const std::string& Error() const { return error_; }
  const TSoakFigures& Figures() const { return figures_; }

  // Where further consumers of the live source (a data manager, the
  // automatic export) join the run: called once the application is up and
  // before it goes down.
  std::function<void(TLidarApplication&)> OnAttach;
  std::function<void(TLidarApplication&)> OnDetach;

  static std::string DefaultDefinition();

 private:
  class TSession;
  TSoakOptions options_;
  TSoakFigures figures_;
  std::string error_;
};

}  // namespace OrlaqLidar
