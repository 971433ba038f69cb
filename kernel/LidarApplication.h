#pragma once
// The root of the kernel: settings, mode (acquisition or reader), command
// line, the 100 ms timer, and later the acquisition source and recorder.
#include <memory>
#include <string>
#include <vector>

#include "Common/CustomIniFile.h"
#include "Config/ApplicationConfig.h"
#include "Platform/MainLoop.h"
#include "Platform/SingleInstance.h"
#include "kernel/AutoExport.h"
#include "kernel/LidarManager.h"
#include "kernel/files/LidarRecorder.h"

namespace OrlaqLidar {

// What the command line asked for beyond the settings.
struct TCommandLineOptions {
  bool Simulate = false;
  bool Headless = false;
  double DurationSeconds = 0;  // 0: run until stopped
  // "SCREENSHOT=<file.png>": a picture of the main window, then the end.
  std::string Screenshot;
  bool Help = false;
  std::string Model;             // "MODEL": instrument definition for this run
  std::string ExportConfigFile;  // "EXPCONFIG": batch export settings
  std::string QuicklookFolder;   // "QUICKLOOK=": daily pictures of a batch run
  std::vector<std::string> UnknownSwitches;
  // Overrides for this run only, never stored: the simulator's INS stream
  // and the laser switched on by itself in a headless run.
  std::string AirinsAddr;
  std::string AirinsPort;
  bool ForceAutoPower = false;
  bool Quiet = false;  // "QUIET": no progress line in a batch export
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
  struct TFolders {
    std::string Data, Export, Config, Log;
  };
  // Stores the folders for the next start: the running program keeps its
  // own (its recorder, data-folder lock and calibrations stay where they
  // are) until Init reads the settings again. Empty values leave a folder
  // unchanged; trailing separators are stripped.
  void SetFolders(const std::string& dataFolder, const std::string& exportFolder,
                  const std::string& configFolder, const std::string& logFolder);
  // The folders as stored, for the next start.
  TFolders StoredFolders() const { return storedRead_ ? stored_.Folders : RunningValues().Folders; }
  // The operator's own INS address and auto-power choice: in force at once
  // and saved, even when this run was started with an override of them.
  void SetInsAddress(const std::string& addr, const std::string& port);
  void SetAutoPower(bool on);

  // Takes the lock file of the data folder (creating the folder) and keeps
  // it until DestroyInstance, so that a second copy started in another
  // session never records into the same files. False, with the reason in
  // why, when another process holds it; a lock file that cannot be made
  // does not stop the acquisition (the reason is logged).
  bool LockDataFolder(std::string& why);
  bool DataFolderLocked() const { return dataFolderLock_ && dataFolderLock_->Held(); }
  static constexpr const char* DataFolderLockName = "Skyvane";

  // The settings store, opened on first use unless one was given.
  TCustomIniFile& Store();
  void SetStore(std::unique_ptr<TCustomIniFile> store);

  // Automatic export while the laser is on. False, doing nothing, without
  // an acquisition source; Init clears the wish.
  bool SetAutoExport(bool on);
  bool AutoExportWanted() const { return autoExport_; }
  // The running automatic export, or null.
  const TAutoExport* AutoExporter() const { return exporter_.get(); }
  // How automatic exports are made; without one none starts.
  void SetAutoExportFactory(TAutoExportFactory factory) { exportFactory_ = std::move(factory); }

  // Called every 100 ms by the timer that Init starts.
  void OnTimer();
  // Status consumer of the acquisition source (priority 100).
  void OnStatusChange(TStatus* status, TState::ChangeRaison reason);

  // The acquisition source: the live instrument in acquisition mode, the
  // replay of recorded files in reader mode; null before Init and after Exit.
  TLidarManager* Source() const { return source_.get(); }
  TLidarRecorder* Recorder() const { return recorder_.get(); }

  static std::string Usage();
  // Path of the current instrument definition file.
  std::string DefinitionPath() const;
  bool DefinitionLoaded() const { return definitionLoaded_; }
  // Why the definition of this run cannot be used: the file named by
  // "MODEL" is missing or no regular file, or its content was refused.
  // Empty when it loaded, or when no definition was asked for.
  const std::string& DefinitionError() const { return definitionError_; }

  TApplicationConfig Config;
  TCommandLineOptions Options;
  std::vector<std::string> CommandLineFiles;
  // Names on the command line that are no existing file; left out above.
  std::vector<std::string> IgnoredFiles;

 private:
  TLidarApplication() = default;
  bool LoadSettingsAndDefinition();
  void ApplyRunOverrides();
  void StartAutoExport();
  void StopAutoExport();

  // What SaveConfig writes where the running values may differ.
  struct TStoredValues {
    std::string AirinsAddr, AirinsPort;
    bool AutoPower = false;
    TFolders Folders;
  };
  TStoredValues RunningValues() const;
  void PutValues(const TStoredValues& values);
  TStoredValues& Stored();
  TStoredValues stored_;
  bool storedRead_ = false;

  std::unique_ptr<TCustomIniFile> store_;
  std::unique_ptr<TSingleInstance> dataFolderLock_;
  std::unique_ptr<TLidarManager> source_;
  std::unique_ptr<TLidarRecorder> recorder_;
  TAutoExportFactory exportFactory_;
  std::unique_ptr<TAutoExport> exporter_;
  bool autoExport_ = false;
  TMainLoop* timerLoop_ = nullptr;
  TMainLoop::TTimerId timerId_ = 0;
  bool definitionLoaded_ = false;
  std::string definitionError_;
};

}  // namespace OrlaqLidar
