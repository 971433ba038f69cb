#pragma once
// The root of the kernel: settings, mode (acquisition or reader), command
// line, the 100 ms timer, and later the acquisition source and recorder.
#include <memory>
#include <string>
#include <vector>

#include "Common/CustomIniFile.h"
#include "Config/ApplicationConfig.h"
#include "Platform/MainLoop.h"

namespace OrlaqLidar {

// What the command line asked for beyond the settings.
struct TCommandLineOptions {
  bool Simulate = false;
  bool Headless = false;
  double DurationSeconds = 0;  // 0: run until stopped
  bool Help = false;
  std::string Model;             // "MODEL": instrument definition for this run
  std::string ExportConfigFile;  // "EXPCONFIG": batch export settings
  std::vector<std::string> UnknownSwitches;
};

class TLidarApplication {
 public:
  static TLidarApplication* GetInstance();
  static void DestroyInstance();
  virtual ~TLidarApplication();

  // Reads the arguments after the program name. True when no file was named.
  bool ParseCommandLine(const std::vector<std::string>& args);
  bool Init(bool acquisitionMode);
  bool Exit();
  bool LoadConfig();
  void SaveConfig();
  // Empty values leave a folder unchanged; trailing separators are stripped.
  void SetFolders(const std::string& dataFolder, const std::string& exportFolder,
                  const std::string& configFolder, const std::string& logFolder);

  // The settings store, opened on first use unless one was given.
  TCustomIniFile& Store();
  void SetStore(std::unique_ptr<TCustomIniFile> store);

  // Called every 100 ms by the timer that Init starts.
  void OnTimer();

  static std::string Usage();
  // Path of the current instrument definition file.
  std::string DefinitionPath() const;
  bool DefinitionLoaded() const { return definitionLoaded_; }

  TApplicationConfig Config;
  TCommandLineOptions Options;
  std::vector<std::string> CommandLineFiles;

 private:
  TLidarApplication() = default;

  std::unique_ptr<TCustomIniFile> store_;
  TMainLoop* timerLoop_ = nullptr;
  TMainLoop::TTimerId timerId_ = 0;
  bool definitionLoaded_ = false;
};

}  // namespace OrlaqLidar
