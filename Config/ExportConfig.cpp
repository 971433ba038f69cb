#include "Config/ExportConfig.h"

#include <filesystem>

namespace OrlaqLidar {

namespace fs = std::filesystem;

bool TExportConfig::Load(const TCustomIniFile& store, const std::string& section) {
  Folder = store.ReadString(section, "Folder", Folder);
  // An empty value names no folder: the files would land in whatever folder
  // the program runs in, and a pattern could name any absolute path.
  if (Folder.empty()) {
    std::error_code ec;
    Folder = (fs::current_path(ec) / "ExportData").string();
  }
  Type = store.ReadString(section, "Type", Type);
  FilePattern = store.ReadString(section, "FilePattern", FilePattern);
  ColumnDelimiter = store.ReadString(section, "ColumnDelimiter", ColumnDelimiter);
  Processing.ProfileTime = store.ReadInteger(section, "ProfileTime", Processing.ProfileTime);
  Processing.Processings = TProcessingSetup::FromCode(store.ReadString(section, "Processings", "OSBR2"));
  LogMonitoring = store.ReadBool(section, "LogMonitoring", LogMonitoring);
  MinutesSlice = store.ReadInteger(section, "MinutesSlice", MinutesSlice);
  DateFormat = static_cast<uint8_t>(store.ReadInteger(section, "DateFormat", DateFormat));
  return true;
}

bool TExportConfig::Save(TCustomIniFile& store, const std::string& section) const {
  store.WriteString(section, "Folder", Folder);
  store.WriteString(section, "Type", Type);
  store.WriteString(section, "FilePattern", FilePattern);
  store.WriteString(section, "ColumnDelimiter", ColumnDelimiter);
  store.WriteInteger(section, "ProfileTime", Processing.ProfileTime);
  store.WriteString(section, "Processings", TProcessingSetup::ToCode(Processing.Processings));
  store.WriteBool(section, "LogMonitoring", LogMonitoring);
  store.WriteInteger(section, "MinutesSlice", MinutesSlice);
  store.WriteInteger(section, "DateFormat", DateFormat);
  return true;
}

}  // namespace OrlaqLidar
