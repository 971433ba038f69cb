#pragma once
// The colour palettes found as "*.bmp" files in the program's resource
// folder, by file name.
#include <string>
#include <utility>
#include <vector>

#include "Display/PaletteContrast.h"

namespace OrlaqLidar {

class TPaletteLibrary {
 public:
  struct TEntry {
    std::string Name;
    TPaletteContrast::TColours Colours;
  };

  // Reads every qualifying bitmap of the folder, in name order; returns
  // how many were taken.
  int Load(const std::string& folder);
  const std::vector<TEntry>& Entries() const { return entries_; }
  const TEntry* Find(const std::string& name) const;

  // The shipped palettes: beside the build tree's source or an installed
  // share folder, found from the executable's place.
  static std::string DefaultFolder();

 private:
  std::vector<TEntry> entries_;
};

}  // namespace OrlaqLidar
