#pragma once
// Reads back every recorded file of a data folder: each must read to its
// end mark; each data block is counted in the tally.
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "soak/SoakTally.h"

namespace OrlaqLidar {

class TApplicationConfig;

class TSoakRecordings {
 public:
  // Every ".skv2" under the folder, in name order.
  static std::vector<std::filesystem::path> Files(const std::filesystem::path& folder);
  // Reads one file into the tally; the reason when it is not valid to its end mark.
  static std::string Read(const std::filesystem::path& file, const TApplicationConfig& settings, TSoakTally& tally);
};

}  // namespace OrlaqLidar
