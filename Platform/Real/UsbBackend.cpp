#include "Platform/Real/UsbBackend.h"

#include <cstdlib>

#include "Common/StringUtils.h"
#include "Platform/Real/LibFtdiUsbDriver.h"
#include "Platform/Real/VirtualUsbDriver.h"

namespace OrlaqLidar {

std::unique_ptr<TUsbDriver> CreateUsbDriver(const std::string& selection, std::string& error) {
  error.clear();
  const std::string sel = Trim(selection);
  if (sel.empty() || SameText(sel, "libftdi")) return std::make_unique<TLibFtdiUsbDriver>();
  if (StartsWithText(sel, "virtual:")) {
    const std::string file = sel.substr(8);
    if (file.empty()) {
      error = "SKYVANE_USB: virtual devices need a file: virtual:<devices.ini>";
      return nullptr;
    }
    return std::make_unique<TVirtualUsbDriver>(file);
  }
  error = "SKYVANE_USB: unknown USB backend <" + sel + "> (libftdi or virtual:<devices.ini>)";
  return nullptr;
}

std::unique_ptr<TUsbDriver> CreateUsbDriverFromEnvironment(std::string& error) {
  const char* env = std::getenv("SKYVANE_USB");
  return CreateUsbDriver(env ? env : "", error);
}

std::unique_ptr<TUsbDriver> CreateUsbDriverFromEnvironment() {
  std::string error;
  return CreateUsbDriverFromEnvironment(error);
}

}  // namespace OrlaqLidar
