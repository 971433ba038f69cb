#include "Config/ApplicationConfig.h"

#include <unistd.h>

#include <filesystem>

namespace OrlaqLidar {

namespace fs = std::filesystem;

namespace {
std::string ExecutableFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::string Under(const std::string& folder, const char* name) { return (fs::path(folder) / name).string(); }
}  // namespace

bool TApplicationConfig::Load(const TCustomIniFile& store) {
  ApplicationFolder = ExecutableFolder();
  std::error_code ec;
  StartFolder = fs::current_path(ec).string();

  LogToFile = store.ReadBool(Section, "LogToFile", LogToFile);
  DebugMode = store.ReadBool(Section, "DebugMode", DebugMode);
  FullRange = store.ReadBool(Section, "FullRange", FullRange) && DebugMode;
  // Outside debug mode the program always connects by itself.
  AutoConnect = store.ReadBool(Section, "AutoConnect", true) || !DebugMode;

  LogFolder = store.ReadString(Section, "LogFolder", Under(StartFolder, "LidLog"));
  ConfigFolder = store.ReadString(Section, "ConfigFolder", Under(StartFolder, "LidConf"));
  DataFolder = store.ReadString(Section, "DataFolder", Under(StartFolder, "LidData"));
  CurrentInstrument = store.ReadString(Section, "CurrentInstrument", CurrentInstrument);

  AutoExport = store.ReadBool(Section, "AutoExport", AutoExport);
  AutoPower = store.ReadBool(Section, "AutoPower", AutoPower);
  EnableAirins = store.ReadBool(Section, "EnableAirins", EnableAirins);

  if (Export.Folder.empty()) Export.Folder = Under(StartFolder, "ExportData");
  Export.Load(store, ExportSection);
  return true;
}

bool TApplicationConfig::Save(TCustomIniFile& store) const {
  store.WriteBool(Section, "LogToFile", LogToFile);
  store.WriteBool(Section, "DebugMode", DebugMode);
  store.WriteBool(Section, "FullRange", FullRange && DebugMode);
  // True is the reader's default: leave no value behind for it.
  if (AutoConnect)
    store.DeleteKey(Section, "AutoConnect");
  else
    store.WriteBool(Section, "AutoConnect", false);
  store.WriteString(Section, "LogFolder", LogFolder);
  store.WriteString(Section, "ConfigFolder", ConfigFolder);
  store.WriteString(Section, "DataFolder", DataFolder);
  store.WriteString(Section, "CurrentInstrument", CurrentInstrument);
  store.WriteBool(Section, "AutoExport", AutoExport);
  store.WriteBool(Section, "AutoPower", AutoPower);
  store.WriteBool(Section, "EnableAirins", EnableAirins);
  Export.Save(store, ExportSection);
  Setup.Save(store, SetupSection);
  store.UpdateFile();
  return true;
}

bool TApplicationConfig::LoadInstrument(const TCustomIniFile& store, const TCustomIniFile& definition) {
  const bool definitionLoaded = LidarConfig.Load(definition);
  const bool setupLoaded = Setup.Load(store, SetupSection);
  const bool calibrationsLoaded = ReloadCalibrations();
  return definitionLoaded || setupLoaded || calibrationsLoaded;
}

bool TApplicationConfig::ReloadCalibrations() {
  return Setup.BuildCalibrations(ConfigFolder, LidarConfig.Channels) > 0;
}

}  // namespace OrlaqLidar
