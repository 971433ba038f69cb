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
#include "tests/TestSupport.h"

namespace OrlaqLidar::Test {

// One QCoreApplication for the whole test program.
inline void EnsureQtApp() {
  static int argc = 1;
  static char name[] = "skyvane-live-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

// Runs the Qt event loop until done() holds or timeoutMs has passed;
// returns done(). Never hangs: the loop is left at the deadline.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(2);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
  return done();
}

// Runs the event loop for a while whatever happens.
inline void RunFor(int ms) {
  RunUntil([] { return false; }, ms);
}

// The system clock whose monotonic tick can be moved ahead: a freshly built
// channel waits 3 s before its first open attempt, which a test skips
// rather than sleeps through. The wall clock is left alone.
class TSkippingClock : public TClock {
 public:
  TDateTime NowUTC() const override { return system_.NowUTC(); }
  uint64_t TickMs() const override { return system_.TickMs() + skipped_.load(); }
  void Skip(uint64_t ms) { skipped_ += ms; }

 private:
  TSystemClock system_;
  std::atomic<uint64_t> skipped_{0};
};

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
