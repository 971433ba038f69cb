#include "Platform/SettingsStore.h"

#include <cstdlib>
#include <filesystem>

namespace OrlaqLidar {

std::string SettingsFilePath() {
  const char* explicitPath = std::getenv("SKYVANE_SETTINGS");
  if (explicitPath && *explicitPath) return explicitPath;
  std::filesystem::path base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : ".") / ".config";
  }
  return (base / "Orlaq" / "Skyvane.ini").string();
}

std::unique_ptr<TIniFile> OpenSettingsStore() {
  auto store = std::make_unique<TIniFile>(SettingsFilePath());
  store->SetAutoSave(true);
  return store;
}

}  // namespace OrlaqLidar
