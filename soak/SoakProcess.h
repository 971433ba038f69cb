#pragma once
// Resident memory and open descriptors of this process, from /proc.
#include <dirent.h>
#include <unistd.h>

#include <fstream>

#include "soak/SoakFigures.h"

namespace OrlaqLidar {

class TSoakProcess {
 public:
  static TSoakFigures::TProcess Now() { return {ResidentKb(), Descriptors()}; }

  static long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    if (!(statm >> size >> resident)) return 0;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
  }

  // Without the one this count opens to list them.
  static int Descriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return 0;
    int n = 0;
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;
  }
};

}  // namespace OrlaqLidar
