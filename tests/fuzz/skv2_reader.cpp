// libFuzzer target: arbitrary bytes as a recorded data file, through every
// reading path (open, index, read, search) and through the repair that an
// open for writing performs. Built by scripts/fuzz; the corpus smoke test
// and the regression test include this file to run the same paths under
// ctest.
// fuzz-sources: kernel/files/LidFileAccess.cpp kernel/files/LidFileStream.cpp kernel/ErrorLogger.cpp
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/fuzz/Skv2Seeds.h"

namespace {

namespace fs = std::filesystem;

// One file per process, in memory when the system offers it (the repair
// syncs its files); removed after every input so that nothing lingers.
const fs::path& FuzzFile() {
  static const fs::path file = [] {
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    return base / ("skv2-fuzz-" + std::to_string(::getpid()) + ".skv2");
  }();
  return file;
}

void WriteInput(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Touches every byte handed out, so that the sanitizers see any read
// outside what the reader owns.
volatile uint8_t g_sink;

void Touch(const uint8_t* data, size_t size) {
  uint8_t x = 0;
  for (size_t i = 0; i < size; ++i) x ^= data[i];
  g_sink = x;
}

void Hook(OrlaqLidar::TLidFileAccess& file) {
  file.OnData = [](int, const uint8_t* d, size_t n, OrlaqLidar::TDateTime) { Touch(d, n); };
  file.OnEvent = [](int, const std::string& code, const std::string& text, OrlaqLidar::TDateTime) {
    Touch(reinterpret_cast<const uint8_t*>(code.data()), code.size());
    Touch(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  };
  file.OnCalibration = [](int, int, const uint8_t* d, size_t n) { Touch(d, n); };
}

std::string ReadBack(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

namespace OrlaqLidar::Fuzz::Skv2Reader {

int Run(const uint8_t* data, size_t size) {
  using OrlaqLidar::TLidFileAccess;
  static const OrlaqLidar::TApplicationConfig settings;
  const fs::path& path = FuzzFile();
  WriteInput(path, data, size);

  // Small read buffers: payloads larger than the buffer and refills in the
  // middle of a block head are the rare paths worth the fuzzer's time.
  {
    TLidFileAccess file(path, settings, 64);
    Hook(file);
    if (file.OpenForReading() == 0) {
      file.ReadBlocks(3);
      file.ReadBlocks(1 << 20, file.LastIndexTime());
      file.Rewind();
      while (file.ReadBlocks(64) == 64) {
      }
      file.Close();
    }
    if (file.MakeIndex() == 0 && file.IndexCount() > 0 && file.OpenForSearching() == 0) {
      const auto& mid = file.Index()[file.IndexCount() / 2];
      if (file.SeekTime(mid.Time, 1)) file.ReadBlocks(1 << 20, mid.Time);
      file.Close();
    }
  }

  // The repair rewrites and cuts files, but never one that is not ours.
  {
    TLidFileAccess::TInstrumentInfo info;
    info.SerialNumber = "FUZZ";
    info.LidarChannels = {{1, "FW 100abc"}};
    TLidFileAccess file(path, settings, 1024);
    if (file.OpenForWriting(&info) == 0) {
      const uint8_t shot[4] = {1, 2, 3, 4};
      file.WriteShoot(1, 46000.5, shot, sizeof shot);
      file.Close();
      // What the writer accepted and closed, a reader opens.
      if (TLidFileAccess(path, settings, 64).OpenForReading() != 0) std::abort();
    }
    const bool ours = size == 0 || std::memcmp(data, "SKV2", size < 4 ? size : 4) == 0;
    if (!ours && ReadBack(path) != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  }
  {
    TLidFileAccess file(path, settings, 4096);
    Hook(file);
    file.MakeIndex();
  }
  std::error_code ec;
  fs::remove(path, ec);
  return 0;
}

}  // namespace OrlaqLidar::Fuzz::Skv2Reader

SKYVANE_FUZZ_TARGET(Skv2Reader, Skv2SeedFiles())
