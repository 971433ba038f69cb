// Entry point of the program.
#include <QCoreApplication>
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "Platform/Real/QtMainLoop.h"
#include "Platform/Services.h"
#include "Platform/SettingsStore.h"
#include "Platform/SingleInstance.h"
#include "app/LogPrompt.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarApplication.h"

using namespace OrlaqLidar;

namespace {

std::string Summary(const TLidarApplication& app, bool definitionLoaded) {
  const auto& c = app.Config;
  std::string s = std::string("Skyvane: ") + (c.AcquisitionMode ? "acquisition" : "reader") + " mode, settings " +
                  SettingsFilePath() + ", ";
  if (definitionLoaded)
    s += "instrument \"" + c.LidarConfig.Name + "\" (" + std::to_string(c.LidarConfig.LidarChannelCount()) +
         " lidar, " + std::to_string(c.LidarConfig.MonitorChannelCount()) + " monitoring channels) from " +
         app.DefinitionPath();
  else if (c.CurrentInstrument.empty())
    s += "no instrument definition selected (folder " + c.ConfigFolder + ")";
  else
    s += "instrument definition " + app.DefinitionPath() + " not found";
  return s;
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
  const bool acquisitionMode = !instance.AlreadyExists() && noFiles && !app->Config.ExportMode;

  QCoreApplication qapp(argc, argv);
  // Qt adopts the user's locale; the program's numbers never do.
  std::setlocale(LC_NUMERIC, "C");
  QCoreApplication::setApplicationName("Skyvane");

  TQtMainLoop loop;
  TLogPrompt prompt;
  TScopedServices services(TServices{nullptr, &loop, &prompt, nullptr, nullptr});
  // No message window in a run without windows: the log goes to standard
  // error rather than being lost.
  TErrorLogger::Instance().SetSink([](const std::string& line) { std::cerr << line << std::endl; });
  TErrorLogger::Instance().Attach(loop);

  int exitCode = 0;
  if (app->Config.ExportMode) {
    std::cerr << "skyvane: batch export is not available in this version" << std::endl;
    exitCode = -1;
  } else {
    app->Init(acquisitionMode);
    std::cout << Summary(*app, app->DefinitionLoaded()) << std::endl;
  }

  app->Exit();
  TErrorLogger::Instance().FlushRepeats();
  TErrorLogger::Instance().Detach();
  TErrorLogger::Instance().SetSink(nullptr);
  TLidarApplication::DestroyInstance();
  return exitCode;
}
