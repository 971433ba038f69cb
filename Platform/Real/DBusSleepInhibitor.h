#pragma once
// The sleep lock of the freedesktop login manager, over the system D-Bus:
// its Inhibit call hands back a file descriptor, and the lock lasts as
// long as that descriptor stays open. Without a system bus (containers,
// minimal installs) there is no lock, and no complaint either.
#include <QDBusUnixFileDescriptor>

#include "Platform/SleepInhibitor.h"

namespace OrlaqLidar {

class TDBusSleepInhibitor : public TSleepInhibitor {
 public:
  // Bounds the blocking call: it runs on the user-interface thread.
  static constexpr int CallTimeoutMs = 2000;

  bool Acquire(const std::string& why) override;
  void Release() override;
  bool Held() const { return lock_.isValid(); }

 private:
  QDBusUnixFileDescriptor lock_;
};

}  // namespace OrlaqLidar
