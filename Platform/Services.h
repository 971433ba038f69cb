#pragma once
// The platform services the kernel is driven through. One set per process;
// tests swap in their fakes with TScopedServices.
#include "Platform/Clock.h"
#include "Platform/MainLoop.h"
#include "Platform/UserPrompt.h"

namespace OrlaqLidar {

class TUsbDriver;
class TSocketFactory;
class TSleepInhibitor;

struct TServices {
  TClock* Clock = nullptr;        // never null: the system clock by default
  TMainLoop* Loop = nullptr;      // null until a loop runs
  TUserPrompt* Prompt = nullptr;  // never null: the console by default
  TUsbDriver* Usb = nullptr;
  TSocketFactory* Sockets = nullptr;
  TSleepInhibitor* Sleep = nullptr;  // null: the computer may sleep as it likes
};

TServices& Services();

// Installs a set of services for a scope and restores the previous ones.
class TScopedServices {
 public:
  explicit TScopedServices(const TServices& s);
  ~TScopedServices();
  TScopedServices(const TScopedServices&) = delete;
  TScopedServices& operator=(const TScopedServices&) = delete;

 private:
  TServices saved_;
};

}  // namespace OrlaqLidar
