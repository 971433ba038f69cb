#pragma once
// Chooses the USB backend at start-up. SKYVANE_USB selects it:
// "libftdi" (also when unset or empty) for real devices, or
// "virtual:<devices file>" for devices reached over local sockets.
#include <memory>
#include <string>

#include "Platform/UsbDriver.h"

namespace OrlaqLidar {

// Null, with error set, when the selection is not understood.
std::unique_ptr<TUsbDriver> CreateUsbDriver(const std::string& selection, std::string& error);
std::unique_ptr<TUsbDriver> CreateUsbDriverFromEnvironment(std::string& error);
std::unique_ptr<TUsbDriver> CreateUsbDriverFromEnvironment();

}  // namespace OrlaqLidar
