#include "Common/LogHook.h"

namespace OrlaqLidar {

namespace {
TLogHook& Hook() {
  static TLogHook hook;
  return hook;
}
}  // namespace

void SetLogHook(TLogHook hook) { Hook() = std::move(hook); }

TLogHook CurrentLogHook() { return Hook(); }

void LogMessage(const std::string& text) {
  if (const TLogHook& hook = Hook()) hook(text);
}

}  // namespace OrlaqLidar
