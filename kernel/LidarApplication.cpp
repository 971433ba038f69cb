#include "kernel/LidarApplication.h"

#include <filesystem>
#include <optional>

#include "Common/FileUtils.h"
#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Platform/Services.h"
#include "Platform/SettingsStore.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarAcquisition.h"
#include "kernel/files/LidFileAccess.h"
#include "kernel/files/LidarRecorder.h"
#include "kernel/files/LidarReplay.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

// The definition loader refuses what the DEF1 block of a recorded file cannot hold.
static_assert(TLidarConfig::MaxTextSize + TLidFileAccess::HeaderBlockSize == TLidFileAccess::MaxDefinitionLength);

namespace {
std::unique_ptr<TLidarApplication>& InstanceSlot() {
  static std::unique_ptr<TLidarApplication> instance;
  return instance;
}
}  // namespace

TLidarApplication* TLidarApplication::GetInstance() {
  auto& slot = InstanceSlot();
  if (!slot) slot.reset(new TLidarApplication());
  return slot.get();
}

void TLidarApplication::DestroyInstance() { InstanceSlot().reset(); }

TLidarApplication::~TLidarApplication() { Exit(); }

std::string TLidarApplication::Usage() {
  return "usage: skyvane [switches] [file.skv2 ...]\n"
         "  file.skv2 ...      replay recorded files (reader mode), then exit\n"
         "  -MODEL <file>      instrument definition file (in the configuration folder) for this run\n"
         "  -SIMULATE          drive the built-in simulated instrument\n"
         "  -HEADLESS          acquire without windows (field station)\n"
         "  -DURATION=<s>      the run stops by itself after <s> seconds\n"
         "  -SCREENSHOT=<png>  saves a picture of the main window (after -DURATION, else once started) and exits\n"
         "  -EXPORT            batch export of the named files, then exit\n"
         "  -EXPCONFIG <file>  batch export settings (INI)\n"
         "  -QUICKLOOK=<dir>   batch run: one quicklook PNG per lidar channel and UTC day\n"
         "  -DEBUG             accepted, no effect\n"
         "  -HELP              this text\n"
         "Switches are case-insensitive and may start with '-' or '--'.\n";
}

bool TLidarApplication::ParseCommandLine(const std::vector<std::string>& args) {
  Config.ExportMode = false;
  Config.BatchExport = false;
  bool result = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.empty()) continue;
    // On this platform "/" starts an absolute path, never a switch.
    if (arg[0] != '-') {
      std::error_code ec;
      if (fs::is_regular_file(arg, ec)) {
        CommandLineFiles.push_back(arg);
        result = false;
      } else if (UpperCase(arg).rfind("SCREENSHOT=", 0) == 0 && arg.size() > 11) {
        // Also accepted without the dash.
        Options.Screenshot = arg.substr(11);
      } else {
        IgnoredFiles.push_back(arg);
      }
      continue;
    }
    std::string sw = arg.substr(arg.size() > 1 && arg[1] == '-' ? 2 : 1);
    const std::string upper = UpperCase(sw);
    const bool hasNext = i + 1 < args.size();
    if (upper == "DEBUG") {
    } else if (upper == "EXPORT") {
      Config.ExportMode = true;
      Config.BatchExport = true;
      Config.AcquisitionMode = false;
    } else if (upper == "MODEL") {
      if (hasNext) Options.Model = args[++i];
    } else if (upper.rfind("EXP", 0) == 0) {
      // Every other "EXP..." switch carries a value for the batch export.
      if (hasNext) {
        ++i;
        if (upper == "EXPCONFIG") Options.ExportConfigFile = args[i];
      }
    } else if (upper == "SIMULATE") {
      Options.Simulate = true;
    } else if (upper == "HEADLESS") {
      Options.Headless = true;
    } else if (upper == "QUIET") {
      Options.Quiet = true;
    } else if (upper.rfind("DURATION=", 0) == 0) {
      auto seconds = TryParseDouble(sw.substr(9));
      if (seconds && *seconds > 0)
        Options.DurationSeconds = *seconds;
      else
        Options.UnknownSwitches.push_back(arg);
    } else if (upper.rfind("QUICKLOOK=", 0) == 0 && sw.size() > 10) {
      Options.QuicklookFolder = sw.substr(10);
    } else if (upper.rfind("SCREENSHOT=", 0) == 0 && sw.size() > 11) {
      Options.Screenshot = sw.substr(11);
    } else if (upper == "HELP" || upper == "H" || upper == "?") {
      Options.Help = true;
    } else {
      Options.UnknownSwitches.push_back(arg);
    }
  }
  return result;
}

bool TLidarApplication::LockDataFolder(std::string& why) {
  why.clear();
  if (DataFolderLocked()) return true;
  const std::string folder = Config.DataFolder;
  std::error_code ec;
  fs::create_directories(folder, ec);
  auto lock = std::make_unique<TSingleInstance>(DataFolderLockName, folder);
  if (lock->AlreadyExists()) {
    const long pid = lock->HolderPid();
    why = "the data folder " + folder + " is in use by another copy of the program" +
          (pid > 0 ? " (process " + std::to_string(pid) + ")" : std::string()) + ", lock file " + lock->LockPath();
    return false;
  }
  if (!lock->Held())
    Log("Cannot lock the data folder " + folder + " (" + lock->LockPath() + ": " + lock->OpenError() +
        "); another copy could record there too");
  dataFolderLock_ = std::move(lock);
  return true;
}

TCustomIniFile& TLidarApplication::Store() {
  if (!store_) store_ = OpenSettingsStore();
  return *store_;
}

void TLidarApplication::SetStore(std::unique_ptr<TCustomIniFile> store) { store_ = std::move(store); }

std::string TLidarApplication::DefinitionPath() const {
  return (fs::path(Config.ConfigFolder) / Config.CurrentInstrument).string();
}

bool TLidarApplication::LoadConfig() {
  const bool loaded = LoadSettingsAndDefinition();
  ApplyRunOverrides();
  return loaded;
}

namespace {
// Why a definition file cannot be read; empty for a regular file.
std::string UnusableFileReason(const std::string& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) return "does not exist";
  if (fs::is_directory(st)) return "is a folder, not a file";
  if (!fs::is_regular_file(st)) return "is not a regular file";
  return {};
}
}  // namespace

bool TLidarApplication::LoadSettingsAndDefinition() {
  Config.Load(Store());
  if (!Options.Model.empty()) Config.CurrentInstrument = Options.Model;
  definitionLoaded_ = false;
  definitionError_.clear();
  if (Config.CurrentInstrument.empty()) return false;
  const std::string path = DefinitionPath();
  if (const std::string reason = UnusableFileReason(path); !reason.empty()) {
    // A stored choice may name a file removed since; a definition asked for
    // on the command line must be there.
    if (!Options.Model.empty()) definitionError_ = "instrument definition " + path + " " + reason;
    return false;
  }
  Config.LidarConfig.Clear();
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  // The text goes whole into every recorded file, or the definition is refused.
  std::optional<std::string> text;
  if (!ec && Config.LidarConfig.CheckTextSize(path, size)) {
    text = ReadTextFile(path);
    if (!text) {
      definitionError_ = "instrument definition " + path + " cannot be read";
      return false;
    }
    if (Config.LidarConfig.CheckTextSize(path, text->size())) {
      TIniFile definition(path);
      Config.LoadInstrument(Store(), definition);
    }
  } else if (ec) {
    definitionError_ = "instrument definition " + path + " cannot be read: " + ec.message();
    return false;
  }
  if (!Config.LidarConfig.LoadError.empty())
    definitionError_ = "instrument definition " + path + " refused: " + Config.LidarConfig.LoadError;
  Config.DefinitionText = text.value_or(std::string());
  definitionLoaded_ = true;
  return definitionError_.empty();
}

TLidarApplication::TStoredValues TLidarApplication::RunningValues() const {
  return {Config.Setup.AirinsAddr, Config.Setup.AirinsPort, Config.AutoPower,
          {Config.DataFolder, Config.Export.Folder, Config.ConfigFolder, Config.LogFolder}};
}

void TLidarApplication::PutValues(const TStoredValues& values) {
  Config.Setup.AirinsAddr = values.AirinsAddr;
  Config.Setup.AirinsPort = values.AirinsPort;
  Config.AutoPower = values.AutoPower;
  Config.DataFolder = values.Folders.Data;
  Config.Export.Folder = values.Folders.Export;
  Config.ConfigFolder = values.Folders.Config;
  Config.LogFolder = values.Folders.Log;
}

TLidarApplication::TStoredValues& TLidarApplication::Stored() {
  if (!storedRead_) stored_ = RunningValues();
  storedRead_ = true;
  return stored_;
}

void TLidarApplication::ApplyRunOverrides() {
  stored_ = RunningValues();
  storedRead_ = true;
  if (!Options.AirinsAddr.empty()) Config.Setup.AirinsAddr = Options.AirinsAddr;
  if (!Options.AirinsPort.empty()) Config.Setup.AirinsPort = Options.AirinsPort;
  if (Options.ForceAutoPower) Config.AutoPower = true;
}

void TLidarApplication::SaveConfig() {
  // What this run overrides, and folders changed for the next start, are
  // written as the user set them.
  const TStoredValues running = RunningValues();
  PutValues(Stored());
  Config.Save(Store());
  PutValues(running);
}

void TLidarApplication::SetInsAddress(const std::string& addr, const std::string& port) {
  Config.Setup.AirinsAddr = Stored().AirinsAddr = addr;
  Config.Setup.AirinsPort = Stored().AirinsPort = port;
}

void TLidarApplication::SetAutoPower(bool on) { Config.AutoPower = Stored().AutoPower = on; }

void TLidarApplication::SetFolders(const std::string& dataFolder, const std::string& exportFolder,
                                   const std::string& configFolder, const std::string& logFolder) {
  auto update = [this](const std::string& value, std::string& stored, const char* section, const char* key) {
    if (value.empty()) return;
    const std::string folder = StripTrailingSeparators(value);
    if (folder == stored) return;
    Store().WriteString(section, key, folder);
    stored = folder;
  };
  Stored();
  update(dataFolder, stored_.Folders.Data, "Skyvane", "DataFolder");
  update(logFolder, stored_.Folders.Log, "Skyvane", "LogFolder");
  update(exportFolder, stored_.Folders.Export, "Skyvane\\Export", "Folder");
  update(configFolder, stored_.Folders.Config, "Skyvane", "ConfigFolder");
  Store().UpdateFile();
}

bool TLidarApplication::Init(bool acquisitionMode) {
  Config.AcquisitionMode = acquisitionMode;
  LoadConfig();
  autoExport_ = false;
  Config.TimerPeriod = 100;
  if (TMainLoop* loop = Services().Loop) {
    timerLoop_ = loop;
    timerId_ = loop->StartTimer(Config.TimerPeriod, [this] { OnTimer(); });
  }
  if (acquisitionMode) {
    // A simulated run uses the simulator's INS whatever "EnableAirins" says.
    auto acquisition = std::make_unique<TLidarAcquisition>(&Config, Options.Simulate);
    acquisition->Open();
    recorder_ = std::make_unique<TLidarRecorder>(&Config);
    recorder_->Attach(acquisition.get());
    source_ = std::move(acquisition);
    source_->AddStatusConsumer(this, [this](TStatus* s, TState::ChangeRaison r) { OnStatusChange(s, r); }, 100);
  } else {
    source_ = std::make_unique<TLidarReplay>(&Config);
    source_->Open();
    source_->AddStatusConsumer(this, [this](TStatus* s, TState::ChangeRaison r) { OnStatusChange(s, r); }, 100);
  }
  return true;
}

void TLidarApplication::OnTimer() {
  if (source_) source_->OnTimer(Services().Clock->NowUTC());
}

void TLidarApplication::OnStatusChange(TStatus* status, TState::ChangeRaison /*reason*/) {
  // The end of a replay releases its file and the idle reader.
  if (source_ && source_->IsReplay() && status->ReplayState() == TLidarReplay::ReplayDone) source_->Stop();
  if (status->PowerState() == TState::LaserOn)
    StartAutoExport();
  else if (status->PowerState() == TState::LaserOff)
    StopAutoExport();
}

bool TLidarApplication::SetAutoExport(bool on) {
  if (!source_) return false;
  autoExport_ = on;
  if (on && source_->Status.PowerState() == TState::LaserOn)
    StartAutoExport();
  else
    StopAutoExport();
  return true;
}

void TLidarApplication::StartAutoExport() {
  if (!source_ || !autoExport_ || exporter_ || !exportFactory_ || source_->Status.PowerState() != TState::LaserOn)
    return;
  exporter_ = exportFactory_(Config, *source_);
  if (exporter_) Log("Automatic export started");
}

void TLidarApplication::StopAutoExport() {
  if (!exporter_) return;
  exporter_.reset();
  Log("Automatic export stopped");
}

bool TLidarApplication::Exit() {
  if (timerLoop_ && timerId_) timerLoop_->StopTimer(timerId_);
  timerLoop_ = nullptr;
  timerId_ = 0;
  recorder_.reset();
  exporter_.reset();
  if (source_) {
    source_->RemoveStatusConsumer(this);
    source_->Stop();
    source_->Close();
    source_.reset();
  }
  Config.LidarConfig.Clear();
  definitionLoaded_ = false;
  return true;
}

}  // namespace OrlaqLidar
