#pragma once
// File helpers shared by every part that writes files.
#include <filesystem>
#include <optional>
#include <string>

namespace OrlaqLidar {

std::optional<std::string> ReadTextFile(const std::filesystem::path& path);

// Writes a temporary file beside the target, flushes it to disk and renames
// it over the target; creates the folder when missing.
bool WriteFileAtomic(const std::filesystem::path& path, const std::string& data);

// A file that is about to be replaced is first moved aside under the same
// name with the extension ".bak" ("AP.txt" -> "AP.bak"), replacing an older
// backup; an empty file is deleted rather than kept. True when nothing was
// there or the move worked.
bool MoveAsideToBackup(const std::filesystem::path& path);
std::filesystem::path BackupPath(const std::filesystem::path& path);

// Moves the old file aside, then writes the new contents atomically.
bool ReplaceFileWithBackup(const std::filesystem::path& path, const std::string& data);

// Moves a file out of the way under its name + suffix ("a.skv2" ->
// "a.skv2.bad"), numbered (".bad.1", ".bad.2", ...) when that name is
// taken; never replaces nor deletes anything. The new path, or nothing with
// the reason in error.
std::optional<std::filesystem::path> MoveAsideNumbered(const std::filesystem::path& path, const std::string& suffix,
                                                       std::string& error);

// Removes trailing separators ("/data//" -> "/data"), keeping a lone root.
std::string StripTrailingSeparators(std::string folder);

}  // namespace OrlaqLidar
