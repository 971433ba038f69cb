#pragma once
// The instrument definitions found in the configuration folder, for the
// choice of the current model.
#include <string>
#include <vector>

namespace OrlaqLidar {

struct TLidarModel {
  std::string FileName;  // inside the folder, as stored in "CurrentInstrument"
  std::string Name;      // [General] Name
  std::string Code;      // [General] Code
};

class TLidarModelList {
 public:
  // Every "*.ini" file of the folder with a [General] section, by file
  // name; an unreadable or missing folder gives an empty list.
  static std::vector<TLidarModel> Scan(const std::string& folder);
  // Menu caption: "Name (file)" so that two files of one model differ.
  static std::string Caption(const TLidarModel& model);
  // Whether the setting "CurrentInstrument" (a name in the folder or a
  // path) designates this model of the folder.
  static bool IsCurrent(const TLidarModel& model, const std::string& folder, const std::string& current);
};

}  // namespace OrlaqLidar
