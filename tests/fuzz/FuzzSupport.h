#pragma once
// Helpers shared by the fuzz targets. Every target keeps its code in its own
// namespace, exposes Run(data, size) and Seeds() and ends with
// SKYVANE_FUZZ_TARGET; the libFuzzer entry points are left out when
// SKYVANE_FUZZ_NO_ENTRY is defined, so that one test can include several
// targets and replay their seeds and regression inputs.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace OrlaqLidar::Fuzz {

// A broken property: said on standard error, then a crash, so that
// libFuzzer keeps the input and a test run fails.
[[noreturn]] inline void CheckFailed(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond)                                                               \
  do {                                                                                 \
    if (!(cond)) ::OrlaqLidar::Fuzz::CheckFailed(__FILE__, __LINE__, #cond);           \
  } while (0)

// Reads the fuzzer's bytes as a little program of choices and blocks;
// past the end every read gives zero bytes.
class TInput {
 public:
  TInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return pos_ >= size_; }
  size_t Remaining() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() {
    const uint16_t lo = Byte();
    return static_cast<uint16_t>(lo | (Byte() << 8));
  }
  std::string Take(size_t n) {
    n = std::min(n, Remaining());
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }
  std::string Rest() { return Take(Remaining()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

using TSeeds = std::vector<std::pair<std::string, std::string>>;  // file name, bytes

inline std::string AsString(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// scripts/fuzz asks for seed files in the corpus folder.
inline void WriteSeedsTo(const char* dir, const TSeeds& seeds) {
  if (!dir) return;
  for (const auto& [name, bytes] : seeds) WriteFileBytes(std::filesystem::path(dir) / name, bytes);
}

// Where the shipped files are: FUZZ_SOURCE_DIR (set by scripts/fuzz), else
// the current folder.
inline std::filesystem::path SourceDirFromEnvironment() {
  const char* dir = std::getenv("FUZZ_SOURCE_DIR");
  return dir && *dir ? std::filesystem::path(dir) : std::filesystem::current_path();
}

// A fresh folder per input, in memory when the system offers it (the code
// under test syncs what it writes), removed with everything below it.
class TScratchDir {
 public:
  explicit TScratchDir(const std::string& tag) {
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                      : std::filesystem::temp_directory_path();
    static unsigned counter = 0;
    path_ = base / ("skyvane-fuzz-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(path_, ec);
    std::filesystem::create_directories(path_, ec);
  }
  ~TScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Doubles equal bit for bit, every NaN equal to every other.
inline bool SameDouble(double a, double b) {
  if (a != a && b != b) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace OrlaqLidar::Fuzz

// The libFuzzer entry points of a target: its seeds written where
// scripts/fuzz asks for them, then its Run for every input. seeds is an
// expression evaluated inside the target's namespace.
#ifdef SKYVANE_FUZZ_NO_ENTRY
#define SKYVANE_FUZZ_TARGET(target, seeds)
#else
#define SKYVANE_FUZZ_TARGET(target, seeds)                                                   \
  extern "C" int LLVMFuzzerInitialize(int*, char***) {                                      \
    using namespace ::OrlaqLidar::Fuzz;                                                     \
    using namespace ::OrlaqLidar::Fuzz::target;                                             \
    WriteSeedsTo(std::getenv("FUZZ_SEED_DIR"), seeds);                                      \
    return 0;                                                                               \
  }                                                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                 \
    return ::OrlaqLidar::Fuzz::target::Run(data, size);                                     \
  }
#endif
