#pragma once
// The interactive run: the main window on the application object, until
// the window is closed, the requested duration is over or the requested
// picture of the window has been saved.
#include <functional>
#include <string>

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

class TLidarApplication;
struct TCommandLineOptions;

class TGuiRun {
 public:
  using TEnvironment = std::function<const char*(const char*)>;

  // Windows unless the run is headless or a batch export, and only where
  // Qt has a display to show them (or an offscreen one asked for).
  static bool Wanted(const TCommandLineOptions& options, bool exportMode, const TEnvironment& env);

  // Init in the mode given, the window's start-up, the named files opened,
  // the loop, the close-down. While the windows live, the message log goes
  // to the message-trace window and to alsoTo (the log file of the day);
  // the logger's sink is given back afterwards. Returns the exit code: 1
  // when the requested picture could not be written.
  static int Run(TLidarApplication& app, bool acquisitionMode, bool acquisitionAllowed,
                 TErrorLogger::TSink alsoTo = {});
};

}  // namespace OrlaqLidar
