#include "tests/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar::Test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
  std::random_device rd;
  path_ = fs::temp_directory_path() / ("skyvane-test-" + std::to_string(rd()) + std::to_string(rd()));
  fs::create_directories(path_);
}

TTempDir::~TTempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TTempDir::WriteFile(const std::string& name, const std::string& text) const {
  const fs::path p = path_ / name;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

TSimulatedTime::TSimulatedTime()
    : services_(TServices{&Clock, &Loop, &Prompt, nullptr, nullptr}) {
  TErrorLogger::Instance().Reset();
  TErrorLogger::Instance().SetSink([this](const std::string& line) { LogLines.push_back(line); });
}

TSimulatedTime::~TSimulatedTime() {
  TErrorLogger::Instance().Detach();
  TErrorLogger::Instance().SetSink(nullptr);
  TErrorLogger::Instance().Reset();
}

fs::path SourceDir() {
  const char* s = std::getenv("SKYVANE_SOURCE_DIR");
  return s ? fs::path(s) : fs::path(SKYVANE_SOURCE_DIR_DEFAULT);
}

fs::path BinDir() {
  const char* s = std::getenv("SKYVANE_BIN_DIR");
  return s ? fs::path(s) : fs::path(SKYVANE_BIN_DIR_DEFAULT);
}

}  // namespace OrlaqLidar::Test
