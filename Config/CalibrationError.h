#pragma once
// Raised by TCalibration::Load for a calibration file that holds fewer
// useful lines than the channel needs. Config cannot see the kernel's error
// types, so it has its own.
#include <stdexcept>
#include <string>

namespace OrlaqLidar {

class ECalibrationError : public std::runtime_error {
 public:
  ECalibrationError(const std::string& message, std::string fileName)
      : std::runtime_error(message), FileName(std::move(fileName)) {}

  std::string FileName;
};

}  // namespace OrlaqLidar
