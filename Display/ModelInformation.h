#pragma once
// The description of the current instrument model shown by "Current Lidar
// Model Informations...": groups, channels, ranges and what each channel
// reports besides its signal.
#include <string>

namespace OrlaqLidar {

class TLidarConfig;

struct TModelInformation {
  static std::string Text(const TLidarConfig& definition);
};

}  // namespace OrlaqLidar
