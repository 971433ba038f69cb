#pragma once
// The settings store: one INI file standing for the per-user key
// "SOFTWARE\Orlaq". Each registry subkey path is one section written with
// its full path ("[Skyvane\Setup]").
#include <memory>
#include <string>

#include "Common/IniFile.h"

namespace OrlaqLidar {

// $SKYVANE_SETTINGS when set, else $XDG_CONFIG_HOME/Orlaq/Skyvane.ini
// (~/.config when unset).
std::string SettingsFilePath();

// The store opened on the product root; every write reaches the file at once.
std::unique_ptr<TIniFile> OpenSettingsStore();

}  // namespace OrlaqLidar
