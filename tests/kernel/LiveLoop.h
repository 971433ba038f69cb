#pragma once
// Helpers of the tests that run the kernel for real: Qt's event loop on the
// test thread, reader threads and the simulated instrument over the virtual
// USB backend, all in real time with bounded waits.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "Common/IniFile.h"
#include "Config/LidarConfig.h"
#include "Platform/Clock.h"
#include "Platform/Real/QtMainLoop.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar::Test {

// Runs the event loop for a while whatever happens.
inline void RunFor(int ms) {
  RunQtUntil([] { return false; }, ms);
}

// The instrument definition shipped with the program.
inline std::filesystem::path ShippedDefinitionPath() {
  return SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini";
}

inline std::unique_ptr<TLidarConfig> LoadDefinitionFile(const std::filesystem::path& path) {
  TIniFile ini(path.string());
  auto config = std::make_unique<TLidarConfig>();
  if (!config->Load(ini)) return nullptr;
  return config;
}

// Big-endian unsigned value of n bytes.
inline uint64_t BigEndian(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

}  // namespace OrlaqLidar::Test
