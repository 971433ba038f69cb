// Entry point of the program.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <clocale>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "Platform/Real/DBusSleepInhibitor.h"
#include "Platform/Real/QtMainLoop.h"
#include "Platform/Real/QtSocketFactory.h"
#include "Platform/Real/UsbBackend.h"
#include "Platform/Services.h"
#include "Platform/SettingsStore.h"
#include "Platform/SingleInstance.h"
#include "Platform/UsbDriver.h"
#include "Export/ExportSession.h"
#include "Display/BatchQuicklook.h"
#include "app/BatchMode.h"
#include "app/GuiRun.h"
#include "app/HeadlessReplay.h"
#include "app/HeadlessRunner.h"
#include "app/LogPrompt.h"
#include "app/ProfileStatus.h"
#include "app/SimulatedInstrument.h"
#include "kernel/DailyLogFile.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarApplication.h"
#include "kernel/files/LidarReplay.h"

using namespace OrlaqLidar;

namespace {

std::string Summary(const TLidarApplication& app) {
  const auto& c = app.Config;
  std::string s = std::string("Skyvane: ") + (c.AcquisitionMode ? "acquisition" : "reader") + " mode, settings " +
                  SettingsFilePath() + ", ";
  if (app.DefinitionLoaded())
    s += "instrument \"" + c.LidarConfig.Name + "\" (" + std::to_string(c.LidarConfig.LidarChannelCount()) +
         " lidar, " + std::to_string(c.LidarConfig.MonitorChannelCount()) + " monitoring channels) from " +
         app.DefinitionPath();
  else if (c.CurrentInstrument.empty())
    s += "no instrument definition selected (folder " + c.ConfigFolder + ")";
  else
    s += "instrument definition " + app.DefinitionPath() + " not found";
  return s;
}

void OnSignal(int) {
  THeadlessRunner::RequestStop();
  THeadlessReplay::RequestStop();
}

void Shutdown(TLidarApplication* app) {
  app->Exit();
  TErrorLogger::Instance().FlushRepeats();
  TErrorLogger::Instance().Detach();
  TErrorLogger::Instance().SetSink(nullptr);
  TLidarApplication::DestroyInstance();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);

  // The first copy on this machine drives the instrument; later ones only read files.
  TSingleInstance instance("SkyvaneMutex");
  TLidarApplication* app = TLidarApplication::GetInstance();
  const bool noFiles = app->ParseCommandLine(args);
  if (app->Options.Help) {
    std::cout << TLidarApplication::Usage();
    return 0;
  }
  for (const auto& sw : app->Options.UnknownSwitches)
    std::cerr << "skyvane: unknown switch " << sw << " ignored\n"
              << "usage: skyvane [-MODEL <file>] [-SIMULATE] [-HEADLESS] [-DURATION=<s>] [-EXPORT] "
                 "[-EXPCONFIG <file>] [-HELP] [file ...]\n";
  bool acquisitionMode = !instance.AlreadyExists() && noFiles && !app->Config.ExportMode;
  std::string readerReason;
  if (instance.AlreadyExists() && noFiles && !app->Config.ExportMode)
    readerReason = "another copy of the program runs in this session (lock file " + instance.LockPath() + ")";

  const bool windows = TGuiRun::Wanted(app->Options, app->Config.ExportMode, [](const char* n) { return std::getenv(n); });
  // A run without windows needs no display: no widget application then.
  std::unique_ptr<QCoreApplication> qapp;
  const bool pictures = app->Config.ExportMode && !app->Options.QuicklookFolder.empty();
  if (windows) {
    qapp = std::make_unique<QApplication>(argc, argv);
  } else if (pictures) {
    // The daily pictures are drawn offscreen: no display needed.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qapp = std::make_unique<QGuiApplication>(argc, argv);
  } else {
    qapp = std::make_unique<QCoreApplication>(argc, argv);
  }
  // Qt adopts the user's locale; the program's numbers never do.
  std::setlocale(LC_NUMERIC, "C");
  QCoreApplication::setApplicationName("Skyvane");
  QCoreApplication::setApplicationVersion(SKYVANE_VERSION);

  TQtMainLoop loop;
  TLogPrompt prompt;
  TQtSocketFactory sockets;
  TDBusSleepInhibitor sleepLock;
  TScopedServices services(TServices{nullptr, &loop, &prompt, nullptr, &sockets, &sleepLock});
  // The log goes to standard error, and, once the settings have named the
  // log folder, to a file of the day for the station's records.
  TErrorLogger::Instance().SetSink([](const std::string& line) { std::cerr << line << std::endl; });
  app->LoadConfig();
  TDailyLogFile logFile(app->Config.LogFolder);
  const TErrorLogger::TSink toLogFile = [&logFile](const std::string& line) {
    logFile.Write(line, Services().Clock->NowUTC());
  };
  TErrorLogger::Instance().SetSink([toLogFile](const std::string& line) {
    std::cerr << line << std::endl;
    toLogFile(line);
  });
  TErrorLogger::Instance().Attach(loop);

  // A definition asked for that cannot be used ends the run: falling back to
  // another one would drive or describe the wrong instrument.
  if (!app->DefinitionError().empty()) {
    std::cerr << "skyvane: " << app->DefinitionError() << std::endl;
    Shutdown(app);
    return app->Config.ExportMode ? 253 : 1;
  }
  if (app->Config.ExportMode) {
    for (const auto& name : app->IgnoredFiles) std::cerr << "skyvane: " << name << ": no such file, ignored" << std::endl;
    TBatchMode batch(*app, std::cerr, isatty(STDERR_FILENO) != 0 && !app->Options.Quiet);
    app->Init(false);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    int exitCode = batch.Run();
    std::unique_ptr<TBatchQuicklook> quicklook;
    if (exitCode >= 0 && pictures) {
      quicklook = std::make_unique<TBatchQuicklook>(*app->Source(), app->Config, app->Options.QuicklookFolder);
      // Pictures alone unless export settings were named.
      batch.SetExportWanted(!app->Options.ExportConfigFile.empty());
    }
    if (exitCode >= 0) exitCode = batch.Export();
    if (quicklook) {
      const bool written = quicklook->Finish();
      std::cerr << "skyvane: " << quicklook->Pictures().Written().size() << " quicklook pictures written to "
                << app->Options.QuicklookFolder << std::endl;
      for (const auto& failed : quicklook->Pictures().Failed()) std::cerr << "skyvane: cannot write " << failed << std::endl;
      if (!written && exitCode == 0) exitCode = -3;
      quicklook.reset();
    }
    Shutdown(app);
    return exitCode & 0xFF;
  }

  // Two copies started in different sessions do not see each other's
  // single-instance lock; the data folder's lock keeps them from recording
  // into the same files.
  if (acquisitionMode) {
    std::string why;
    if (!app->LockDataFolder(why)) {
      acquisitionMode = false;
      readerReason = why;
    }
  }
  if (!readerReason.empty()) Log("Running as a reader: " + readerReason);
  for (const auto& name : app->IgnoredFiles) std::cerr << "skyvane: " << name << ": no such file, ignored" << std::endl;
  if (!acquisitionMode && !windows) {
    app->Init(false);
    std::cout << Summary(*app) << std::endl;
    int exitCode = 0;
    auto* replay = dynamic_cast<TLidarReplay*>(app->Source());
    if (app->CommandLineFiles.empty() || !replay) {
      std::cout << "Skyvane: no file named, nothing to replay (no display for the reader's window)" << std::endl;
    } else {
      THeadlessReplay runner(*replay, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
      std::signal(SIGINT, OnSignal);
      std::signal(SIGTERM, OnSignal);
      exitCode = runner.Run(app->CommandLineFiles);
      std::signal(SIGINT, SIG_DFL);
      std::signal(SIGTERM, SIG_DFL);
    }
    Shutdown(app);
    return exitCode;
  }

  // The instrument: the built-in simulation, or whatever SKYVANE_USB selects.
  // A window run of the first copy may switch from reading files to
  // acquisition later, so it prepares the instrument too.
  bool mayAcquire = acquisitionMode || (windows && !instance.AlreadyExists() && readerReason.empty());
  TSimulatedInstrument simulation;
  std::unique_ptr<TUsbDriver> usb;
  std::string usbError;
  if (!mayAcquire) {
  } else if (app->Options.Simulate) {
    // Without a definition of its own, the run takes the shipped one.
    std::string definition = app->DefinitionLoaded() ? app->DefinitionPath() : TSimulatedInstrument::ShippedDefinition();
    if (!app->DefinitionLoaded()) app->Options.Model = definition;
    if (definition.empty() || !simulation.Start(definition)) {
      usbError = "cannot start the simulated instrument: " +
                 (definition.empty() ? std::string("no instrument definition") : simulation.Error());
    } else {
      if (simulation.InsPort()) {
        app->Options.AirinsAddr = "127.0.0.1";
        app->Options.AirinsPort = std::to_string(simulation.InsPort());
      }
      usb = CreateUsbDriver("virtual:" + simulation.DevicesFile().string(), usbError);
    }
  } else {
    usb = CreateUsbDriverFromEnvironment(usbError);
  }
  if (mayAcquire && !usb) {
    std::cerr << "skyvane: " << usbError << std::endl;
    if (acquisitionMode) {
      Shutdown(app);
      return 1;
    }
    mayAcquire = false;
  }
  Services().Usb = usb.get();
  app->SetAutoExportFactory(OrlaqExport::TExportSession::AutoExportFactory());

  if (windows) {
    // The simulated instrument comes up with its laser on; a real one as the settings say.
    if (app->Options.Simulate) app->Options.ForceAutoPower = true;
    std::cout << "Skyvane: " << (acquisitionMode ? "acquisition" : "reader") << " mode with the main window"
              << std::endl;
    // The windows show the message log instead of standard error.
    const int exitCode = TGuiRun::Run(*app, acquisitionMode, mayAcquire, toLogFile);
    Shutdown(app);
    Services().Usb = nullptr;
    simulation.Stop();
    return exitCode;
  }

  app->Options.ForceAutoPower = true;
  app->Init(true);
  std::cout << Summary(*app) << std::endl;
  if (!app->DefinitionLoaded()) {
    Shutdown(app);
    return 1;
  }
  // The stored wish: files follow the laser from its first switching on.
  app->SetAutoExport(app->Config.AutoExport);

  int exitCode = 0;
  {
    TProfileStatus::TCloudHeight cloud;
    if (app->Options.Simulate) cloud = [&simulation](TDateTime t) { return simulation.CloudHeight(t); };
    TProfileStatus profiles(*app->Source(), app->Config, cloud);
    THeadlessRunner runner(*app->Source(), app->Config, loop, std::cout, isatty(STDOUT_FILENO) != 0);
    runner.SetProfileLine([&profiles] { return profiles.Line(); });
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    runner.Start(app->Options.DurationSeconds);
    const auto poll = loop.StartTimer(100, [&runner] { runner.Poll(); });
    exitCode = loop.Run();
    loop.StopTimer(poll);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
  }

  Shutdown(app);
  Services().Usb = nullptr;
  simulation.Stop();
  return exitCode;
}
