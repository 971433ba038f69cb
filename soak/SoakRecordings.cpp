#include "soak/SoakRecordings.h"

#include <algorithm>
#include <fstream>

#include "kernel/files/LidFileAccess.h"

namespace OrlaqLidar {

std::vector<std::filesystem::path> TSoakRecordings::Files(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file() && it->path().extension() == ".skv2") files.push_back(it->path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string TSoakRecordings::Read(const std::filesystem::path& file, const TApplicationConfig& settings,
                                  TSoakTally& tally) {
  {
    // The last 16 bytes must be the end mark itself, not only what a reader makes of the file.
    std::ifstream in(file, std::ios::binary);
    char tag[4] = {};
    in.seekg(-16, std::ios::end);
    if (!in.read(tag, 4) || std::string(tag, 4) != "EOF1") return "no end mark";
  }
  TLidFileAccess access(file, settings);
  const int opened = access.OpenForReading();
  if (opened != 0) return "cannot be read: " + TLidFileAccess::ErrorText(opened);
  access.OnData = [&](int channel, const uint8_t*, size_t, TDateTime time) { tally.Recorded(channel, time); };
  access.OnEvent = [](int, const std::string&, const std::string&, TDateTime) {};
  while (access.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) == TLidFileAccess::IndexBlocksPerCall) {
  }
  const bool complete = access.EndMarkReached();
  access.Close();
  return complete ? std::string() : "reading stopped before the end mark";
}

}  // namespace OrlaqLidar
