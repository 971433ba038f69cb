#include "app/BatchMode.h"

#include <filesystem>
#include <memory>

#include "Common/IniFile.h"
#include "Export/ExportPattern.h"
#include "Export/ExportSession.h"
#include "app/HeadlessReplay.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarApplication.h"
#include "kernel/files/LidarReplay.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

TBatchMode::TBatchMode(TLidarApplication& app, std::ostream& err, bool progress)
    : app_(app), err_(err), progress_(progress) {
  std::error_code ec;
  settings_.Folder = (fs::current_path(ec) / "ExportData").string();
  if (app_.Config.ExportMode && !app_.Options.ExportConfigFile.empty()) LoadSettings(app_.Options.ExportConfigFile);
}

void TBatchMode::LoadSettings(const std::string& file) {
  // Exporting with defaults into some other folder than the one asked for
  // would look like success: settings that cannot be read stop the run.
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    settingsError_ = "export settings " + file + " not found";
    return;
  }
  TIniFile ini(file);
  const auto sections = ini.ReadSections();
  if (sections.empty()) {
    settingsError_ = "export settings " + file + " hold no section";
    return;
  }
  settings_.Load(ini, sections.front());
}

bool TBatchMode::Refuse(const std::string& why) {
  err_ << "skyvane: " << why << std::endl;
  return false;
}

int TBatchMode::Run() {
  if (!app_.Config.ExportMode) return -1;
  if (app_.CommandLineFiles.empty()) {
    Refuse("no recorded file named: nothing to export");
    return -2;
  }
  if (!app_.Config.BatchExport) return 0;
  if (!settingsError_.empty()) return Refuse(settingsError_), -3;
  if (app_.Config.AcquisitionMode || !app_.Source() || !app_.Source()->IsReplay()) {
    app_.Exit();
    app_.Init(false);
  }
  auto* replay = dynamic_cast<TLidarReplay*>(app_.Source());
  if (!replay) return Refuse("no replay source"), -3;
  THeadlessReplay loader(*replay, err_, err_, false);
  const size_t refused = loader.Load(app_.CommandLineFiles);
  app_.CommandLineFiles.clear();
  if (refused) return Refuse(std::to_string(refused) + " file(s) refused: nothing exported"), -3;
  if (replay->FileCount() && app_.Config.LidarConfig.Channels.empty() && !UseRecordedDefinition(*replay)) return -3;
  return 0;
}

bool TBatchMode::UseRecordedDefinition(const TLidarReplay& replay) {
  // Without a definition the export would hold no profile: the recordings
  // carry the one they were made with.
  const TLidFileAccess& first = replay.File(0);
  TIniFile ini;
  ini.LoadFromText(first.DefinitionText());
  if (first.DefinitionText().empty() || !app_.Config.LidarConfig.Load(ini) || app_.Config.LidarConfig.Channels.empty())
    return Refuse("no instrument definition: name one with -MODEL");
  app_.Config.DefinitionText = first.DefinitionText();
  app_.Config.ReloadCalibrations();
  Log("Instrument definition taken from " + first.FileName().string());
  return true;
}

int TBatchMode::PrepareExport() {
  // A folder in the pattern replaces the export folder.
  const fs::path pattern(settings_.FilePattern);
  if (pattern.has_parent_path()) {
    settings_.Folder = (pattern.is_absolute() ? pattern.parent_path() : fs::path(settings_.Folder) / pattern.parent_path())
                           .lexically_normal()
                           .string();
    settings_.FilePattern = pattern.filename().string();
  }
  const auto unknown = OrlaqExport::UnknownPlaceholders(settings_.FilePattern);
  if (!unknown.empty()) return Refuse("export file pattern " + settings_.FilePattern + " has unknown placeholder " + unknown.front()), -3;
  std::error_code ec;
  fs::create_directories(settings_.Folder, ec);
  if (!fs::is_directory(settings_.Folder, ec))
    return Refuse("cannot create the export folder " + settings_.Folder + (ec ? ": " + ec.message() : "")), -3;
  return 0;
}

int TBatchMode::Export() {
  if (!app_.Config.BatchExport) return -1;
  auto* replay = dynamic_cast<TLidarReplay*>(app_.Source());
  if (!replay || replay->FileCount() == 0) return Refuse("no recorded file loaded: nothing to export"), -3;

  std::unique_ptr<OrlaqExport::TExportSession> session;
  if (exportWanted_) {
    if (const int refused = PrepareExport(); refused < 0) return refused;
    session = std::make_unique<OrlaqExport::TExportSession>(settings_, app_.Config, *replay);
    session->Manager().SetWorkBehind(true);
    if (!session->Start()) return Refuse(session->Manager().StartError()), -3;
  }
  THeadlessReplay reader(*replay, err_, err_, progress_);
  reader.SetOutput(false, app_.Options.Quiet);
  replay->Rewind();
  const bool completed = reader.Replay();
  if (session) session->Manager().Flush();
  const long long failures = session ? session->Manager().Failures() : 0;
  if (failures) Refuse(std::to_string(failures) + " profile(s), record(s) or event(s) could not be exported");
  return completed && failures == 0 ? 0 : -3;
}

}  // namespace OrlaqLidar
