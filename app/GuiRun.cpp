#include "app/GuiRun.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <iostream>

#include "Display/MainFrm.h"
#include "Display/MessageTraceFrm.h"
#include "app/SplashScreen.h"
#include "kernel/LidarApplication.h"

namespace OrlaqLidar {

namespace {
// Without a duration the picture is taken once the window has settled.
constexpr int ScreenshotSettleMs = 1500;
}  // namespace

bool TGuiRun::Wanted(const TCommandLineOptions& options, bool exportMode, const TEnvironment& env) {
  if (options.Headless || exportMode) return false;
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = env(name);
    if (v && *v) return true;
  }
  return false;
}

int TGuiRun::Run(TLidarApplication& app, bool acquisitionMode, bool acquisitionAllowed, TErrorLogger::TSink alsoTo) {
  int exitCode = 0;
  TErrorLogger& logger = TErrorLogger::Instance();
  // Both windows live as long as the run; the message log reaches the trace
  // window from before Init, and leaves it before it goes.
  TMessageTraceFrm trace;
  const TErrorLogger::TSink previous = logger.Sink();
  logger.SetSink([&trace, alsoTo](const std::string& line) {
    trace.AddLine(line);
    if (alsoTo) alsoTo(line);
  });
  struct TRestore {
    TErrorLogger& Logger;
    const TErrorLogger::TSink& Sink;
    ~TRestore() { Logger.SetSink(Sink); }
  } restore{logger, previous};
  // Not in batch export: that run never gets here.
  TSplashScreen splash(QCoreApplication::applicationVersion());
  splash.ShowNow();
  app.Init(acquisitionMode);
  {
    TMainFrm window(app);
    trace.SetSaveFolder(QString::fromStdString(app.Config.LogFolder));
    window.SetMessageTrace(&trace);
    window.SetAcquisitionAllowed(acquisitionAllowed);
    window.show();
    window.StartUp();
    if (!app.CommandLineFiles.empty()) {
      QStringList files;
      for (const auto& f : app.CommandLineFiles) files << QString::fromStdString(f);
      app.CommandLineFiles.clear();
      window.LoadFiles(files, true);
    }
    const std::string screenshot = app.Options.Screenshot;
    const double duration = app.Options.DurationSeconds;
    if (!screenshot.empty() || duration > 0) {
      const int ms = duration > 0 ? static_cast<int>(duration * 1000) : ScreenshotSettleMs;
      QTimer::singleShot(ms, &window, [&window, &exitCode, screenshot] {
        if (!screenshot.empty()) {
          if (window.grab().save(QString::fromStdString(screenshot), "PNG")) {
            std::cout << "Skyvane: picture of the main window saved to " << screenshot << std::endl;
          } else {
            std::cerr << "skyvane: cannot write " << screenshot << std::endl;
            exitCode = 1;
          }
        }
        window.CloseWithoutQuestion();
      });
    }
    const int loopCode = QApplication::exec();
    if (exitCode == 0) exitCode = loopCode;
    window.CloseDown();
  }
  trace.Clear();
  return exitCode;
}

}  // namespace OrlaqLidar
