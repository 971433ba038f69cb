#include "Config/ExportConfig.h"

#include <filesystem>

#include "Common/StringUtils.h"

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
  if (UpperCase(ColumnDelimiter) == UpperCase(TabName)) ColumnDelimiter = "\t";
  if (UpperCase(ColumnDelimiter) == UpperCase(SpaceName)) ColumnDelimiter = " ";
  Processing.ProfileTime = store.ReadInteger(section, "ProfileTime", Processing.ProfileTime);
  Processing.Processings = TProcessingSetup::FromCode(store.ReadString(section, "Processings", "OSBR2"));
  LogMonitoring = store.ReadBool(section, "LogMonitoring", LogMonitoring);
  // A raw-data measurement of the network lasts an hour unless told otherwise.
  const bool scc = UpperCase(Type) == "SCC";
  MinutesSlice = store.ReadInteger(section, "MinutesSlice", scc ? 60 : MinutesSlice);
  SccStation = store.ReadString(section, "SccStation", SccStation);
  SccChannelIDs = store.ReadString(section, "SccChannelIDs", SccChannelIDs);
  Institution = store.ReadString(section, "Institution", Institution);
  DateFormat = static_cast<uint8_t>(store.ReadInteger(section, "DateFormat", DateFormat));
  return true;
}

bool TExportConfig::Save(TCustomIniFile& store, const std::string& section) const {
  store.WriteString(section, "Folder", Folder);
  store.WriteString(section, "Type", Type);
  store.WriteString(section, "FilePattern", FilePattern);
  // A settings file trims its values: a tab or a blank is kept by name.
  store.WriteString(section, "ColumnDelimiter",
                    ColumnDelimiter == "\t" ? TabName : ColumnDelimiter == " " ? SpaceName : ColumnDelimiter);
  store.WriteInteger(section, "ProfileTime", Processing.ProfileTime);
  store.WriteString(section, "Processings", TProcessingSetup::ToCode(Processing.Processings));
  store.WriteBool(section, "LogMonitoring", LogMonitoring);
  store.WriteInteger(section, "MinutesSlice", MinutesSlice);
  store.WriteInteger(section, "DateFormat", DateFormat);
  store.WriteString(section, "SccStation", SccStation);
  store.WriteString(section, "SccChannelIDs", SccChannelIDs);
  store.WriteString(section, "Institution", Institution);
  return true;
}

}  // namespace OrlaqLidar
