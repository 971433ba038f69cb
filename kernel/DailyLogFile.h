#pragma once
// The message log kept on disk for a station without windows: one file per
// UTC day (the day of the lines' own stamps) in the log folder. Each line is
// appended by one open-write-close, so that a vanished folder comes back and
// two copies of the program interleave whole lines.
#include <filesystem>
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TDailyLogFile {
 public:
  // An empty folder keeps no file.
  explicit TDailyLogFile(std::string folder);

  // Appends line and a line end to the file of the day of now (UTC); false
  // when it could not be written (the line is then lost to the file only).
  bool Write(const std::string& line, TDateTime now);

  // "Skyvane_yyyymmdd.log" in the folder.
  std::filesystem::path PathFor(TDateTime day) const;

 private:
  std::string folder_;
};

}  // namespace OrlaqLidar
