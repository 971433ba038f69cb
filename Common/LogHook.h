#pragma once
// A way for the libraries below the kernel to reach the message log: the
// kernel's logger installs itself here, so that Common and Config need not
// depend on it.
#include <functional>
#include <string>

namespace OrlaqLidar {

using TLogHook = std::function<void(const std::string& text)>;

// Installed and removed from the main thread, before and after use.
void SetLogHook(TLogHook hook);
TLogHook CurrentLogHook();
// Dropped when no hook is installed.
void LogMessage(const std::string& text);

}  // namespace OrlaqLidar
