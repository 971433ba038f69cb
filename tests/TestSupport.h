#pragma once
// Shared test fixtures: simulated time and a private temporary folder.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Clock.h"
#include "Platform/ManualLoop.h"
#include "Platform/Services.h"
#include "Platform/UserPrompt.h"

namespace OrlaqLidar::Test {

// A temporary folder removed at the end of the test.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  void WriteFile(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

// Simulated clock and loop, a recording prompt, and the message log captured.
class TSimulatedTime : public ::testing::Test {
 protected:
  TSimulatedTime();
  ~TSimulatedTime() override;

  TManualClock Clock;
  TManualLoop Loop{Clock};
  TRecordingPrompt Prompt;
  std::vector<std::string> LogLines;

 private:
  TScopedServices services_;
};

std::filesystem::path SourceDir();
std::filesystem::path BinDir();

}  // namespace OrlaqLidar::Test
