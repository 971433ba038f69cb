// index: building the time index and reading every block of a 1 GiB
// recorded file of 2048-gate x 4-byte shots, against a plain read of the
// same file with a 1 MiB buffer. The file is generated in a temporary
// folder, read once to have it in the page cache, and removed afterwards.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "Config/ApplicationConfig.h"
#include "bench/Bench.h"
#include "kernel/files/LidFileAccess.h"

namespace OrlaqLidar::Bench {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFileBytes = 1ull << 30;
constexpr size_t kShotBytes = 2048 * 4;
constexpr int kRounds = 3;

// Seconds of the fastest of kRounds runs.
double Best(const std::function<bool()>& run) {
  double best = 1e30;
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!run()) return -1;
    const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
    best = std::min(best, d.count());
  }
  return best;
}

bool PlainRead(const fs::path& path, uint64_t& checksum) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[1 << 20]);
  uint64_t sum = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.get(), 1 << 20);
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    sum += buffer[static_cast<size_t>(n) - 1];
  }
  ::close(fd);
  checksum += sum;
  return true;
}

bool Generate(const fs::path& path, const TApplicationConfig& settings, size_t& blocks) {
  TLidFileAccess::TInstrumentInfo info;
  info.SerialNumber = "BENCH001";
  info.LidarChannels = {{1, "FW 100abc"}, {2, "FW 100abc"}};
  TLidFileAccess file(path, settings);
  if (file.OpenForWriting(&info) != 0) return false;
  std::vector<uint8_t> shot(kShotBytes);
  for (size_t i = 0; i < shot.size(); ++i) shot[i] = static_cast<uint8_t>(i * 31);
  const TDateTime t0 = 46000.0;
  blocks = 0;
  while (file.EndOfData() + kShotBytes + TLidFileAccess::DataBlockOverhead <= kFileBytes) {
    shot[0] = static_cast<uint8_t>(blocks);
    const int channel = 1 + static_cast<int>(blocks % 2);
    if (file.WriteShoot(channel, t0 + static_cast<double>(blocks / 2) / SecondsPerDay, shot.data(), shot.size()) <
        0)
      return false;
    ++blocks;
  }
  return true;
}

bool RunIndexBench() {
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path() / ("skyvane-bench-index-" + std::to_string(::getpid()));
  fs::create_directories(folder, ec);
  const fs::path path = folder / "LID_BENCH001_20260615_1200.skv2";
  struct TCleanup {
    fs::path Folder;
    ~TCleanup() {
      std::error_code ignored;
      fs::remove_all(Folder, ignored);
    }
  } cleanup{folder};

  TApplicationConfig settings;
  settings.LidarConfig.Code = "BENCH";
  settings.DefinitionText = "[General]\nName=Bench\n";
  size_t blocks = 0;
  if (!Generate(path, settings, blocks)) return false;
  const double bytes = static_cast<double>(fs::file_size(path, ec));

  uint64_t checksum = 0;
  if (!PlainRead(path, checksum)) return false;  // into the page cache

  const double plain = Best([&] { return PlainRead(path, checksum); });
  const double index = Best([&] {
    TLidFileAccess file(path, settings);
    return file.MakeIndex() == 0 && file.IndexCount() == blocks;
  });
  const double read = Best([&] {
    TLidFileAccess file(path, settings);
    size_t seen = 0;
    file.OnData = [&](int, const uint8_t* data, size_t size, TDateTime) {
      checksum += data[size - 1];
      ++seen;
    };
    if (file.OpenForReading() != 0) return false;
    while (file.ReadBlocks(TLidFileAccess::IndexBlocksPerCall) == TLidFileAccess::IndexBlocksPerCall) {
    }
    return seen == blocks;
  });
  if (plain <= 0 || index <= 0 || read <= 0) return false;

  Report("index", "file_blocks", static_cast<double>(blocks), "blocks");
  Report("index", "plain_gb_s", bytes / plain / 1e9, "GB/s");
  Report("index", "index_gb_s", bytes / index / 1e9, "GB/s");
  Report("index", "read_gb_s", bytes / read / 1e9, "GB/s");
  Report("index", "index_ratio", plain / index, "x plain");
  Report("index", "read_ratio", plain / read, "x plain");
  return checksum != 1;  // keeps the reads from being optimised away
}

const TRegistrar registrar("index", RunIndexBench);

}  // namespace
}  // namespace OrlaqLidar::Bench
