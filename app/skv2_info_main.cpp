// skv2-info: what a recorded data file holds and whether it is whole.
//   skv2-info [--check] <file.skv2>...
// Prints per file the header, the blocks per tag and channel, the first and
// last block times, the end mark, the bytes after the last whole block and
// header fields or an end mark that no writer produces.
// Exit status: 0; 1 when a file cannot be read, or with --check when one is
// damaged; 2 for a usage error.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ApplicationConfig.h"
#include "kernel/ErrorLogger.h"
#include "kernel/files/LidFileAccess.h"

using namespace OrlaqLidar;

namespace {

std::string Printable(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\0') continue;
    out += (c >= 32 && c < 127) ? c : '?';
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// True when the file is whole: readable, every block whole, end mark last.
bool Describe(const std::filesystem::path& path, bool& readable) {
  TApplicationConfig settings;
  TLidFileAccess file(path, settings);
  size_t calibrationItems = 0;
  file.OnCalibration = [&](int, int, const uint8_t*, size_t) { ++calibrationItems; };

  std::printf("%s\n", path.string().c_str());
  const int rc = file.OpenForReading();
  if (rc != 0) {
    std::printf("  cannot be read: %s\n", TLidFileAccess::ErrorText(rc).c_str());
    readable = false;
    return false;
  }
  readable = true;
  std::printf("  serial number: %s\n", Printable(file.SerialNumber()).c_str());
  std::printf("  model code: %s\n", file.ModelCode().c_str());
  std::printf("  created: %s\n", FormatDateTime(file.CreationTime(), false).c_str());
  std::printf("  definition: %zu bytes\n", file.DefinitionText().size());
  std::printf("  channels: %d lidar, %d monitoring\n", file.LidarChannelCount(), file.MonitorChannelCount());
  for (const auto& c : file.HeaderChannels())
    std::printf("    %-10s %3d  %-10s %d %s\n", c.Monitor ? "monitoring" : "lidar", c.Channel,
                Printable(c.FirmwareName).c_str(), c.FirmwareNumber, Printable(c.FirmwareSuffix).c_str());
  if (file.HasOption())
    std::printf("  optional device: record %d\n", file.OptionRecordID());
  else
    std::printf("  optional device: none\n");

  while (file.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) >= TLidFileAccess::IndexBlocksPerCall) {
  }
  std::printf("  calibration items: %zu\n", calibrationItems);

  std::map<std::pair<std::string, int>, size_t> counts;
  for (const auto& e : file.Index()) ++counts[{std::string(e.Tag.data(), e.Tag.size()), e.Channel}];
  std::printf("  data blocks: %zu\n", file.IndexCount());
  for (const auto& [key, n] : counts) std::printf("    %s channel %3d: %zu\n", key.first.c_str(), key.second, n);
  if (file.IndexCount()) {
    std::printf("  first block: %s\n", FormatDateTime(file.FirstIndexTime()).c_str());
    std::printf("  last block: %s\n", FormatDateTime(file.LastIndexTime()).c_str());
  }

  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  const bool endMark = file.EndMarkReached();
  const uint64_t used = file.Position() + (endMark ? TLidFileAccess::HeaderBlockSize : 0);
  const uint64_t after = size > used ? size - used : 0;
  std::printf("  end mark: %s\n", endMark ? "present" : "missing");
  std::printf("  bytes after the last whole block: %llu\n", static_cast<unsigned long long>(after));
  // Fields the reader passes over but no writer of the format produces.
  const std::vector<std::string> faults = file.Faults();
  for (const auto& fault : faults) std::printf("  damaged: %s\n", fault.c_str());
  const bool whole = endMark && after == 0 && faults.empty();
  std::printf("  state: %s\n", whole ? "whole" : "damaged");
  return whole;
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check")
      check = true;
    else if (arg == "-h" || arg == "--help") {
      std::printf("usage: skv2-info [--check] <file.skv2>...\n");
      return 0;
    } else
      files.emplace_back(arg);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: skv2-info [--check] <file.skv2>...\n");
    return 2;
  }
  // The reader's own messages say where a file is damaged.
  TErrorLogger::Instance().SetSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });

  int status = 0;
  for (const auto& f : files) {
    bool readable = false;
    const bool whole = Describe(f, readable);
    if (!readable || (check && !whole)) status = 1;
  }
  TErrorLogger::Instance().FlushRepeats();
  TErrorLogger::Instance().SetSink(nullptr);
  return status;
}
