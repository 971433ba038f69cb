#pragma once
// A text file that receives one line at a time: each line is appended by
// its own open-write-close, so that the file can be read, moved or shared
// with another copy of the program between lines, and two writers
// interleave whole lines.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TLineAppendFile {
 public:
  // Waits between two attempts to open the file; tests count instead.
  using TPause = std::function<void(int ms)>;

  static constexpr int OpenTries = 15;
  static constexpr int RetryPauseMs = 20;

  explicit TLineAppendFile(std::filesystem::path path = {}, TPause pause = {});

  void SetPath(std::filesystem::path path) { path_ = std::move(path); }
  const std::filesystem::path& Path() const { return path_; }
  bool IsSet() const { return !path_.empty(); }

  // Appends text + CR LF, after the stamp of localTime when given. The file
  // is created when missing; an opening that fails for a passing reason is
  // tried again, up to OpenTries times. False when the line is lost.
  bool Append(const std::string& text, std::optional<TDateTime> localTime = std::nullopt) const;

 private:
  std::filesystem::path path_;
  TPause pause_;
};

}  // namespace OrlaqLidar
