// libFuzzer target: the replay of a set of recorded files. The input is a
// flags byte (how many files, whether embedded calibrations are used,
// whether files are indexed while read rather than when added) and
// one to three files, each a 16-bit little-endian length and its bytes. The
// files are added, the replay started and its idle reader driven until it
// stops. It must end "Done" with no file left open, and hand out, file by
// file in its reading order, exactly the blocks its index found, each with
// the bytes the file holds there: nothing from beyond the last whole block,
// nothing twice, nothing lost (only an event too short to carry a code is
// passed over).
// fuzz-sources: kernel/files/LidarReplay.cpp kernel/LidarManager.cpp kernel/files/LidFileAccess.cpp kernel/files/LidFileStream.cpp kernel/ErrorLogger.cpp kernel/Status.cpp kernel/Assert.cpp
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Config/ApplicationConfig.h"
#include "Platform/ManualLoop.h"
#include "Platform/Services.h"
#include "kernel/files/LidarReplay.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/Skv2Seeds.h"

namespace OrlaqLidar::Fuzz::LidarReplay {

namespace fs = std::filesystem;

constexpr int kMaxIdleCalls = 100000;
constexpr size_t kBlockHead = TLidFileAccess::DataBlockOverhead;

bool IsEvent(const TLidFileAccess::TTag& tag) { return std::memcmp(tag.data(), "EVT1", 4) == 0; }

uint32_t LengthAt(const std::string& bytes, uint64_t position) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[position + 4 + static_cast<size_t>(i)]);
  return v;
}

class THarness {
 public:
  THarness(TLidarReplay& replay, std::vector<std::string> bytes) : replay_(replay), bytes_(std::move(bytes)) {
    replay_.AddDataConsumer(this, [this](int id, const uint8_t* data, int length, TDateTime time) {
      Check(false, id, std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)), time);
    });
    replay_.AddEventConsumer(this, [this](int id, const std::string& code, TDateTime time, const std::string& text) {
      Check(true, id, code + text, time);
    });
  }
  ~THarness() {
    replay_.RemoveDataConsumer(this);
    replay_.RemoveEventConsumer(this);
  }

  // The file names in the order they were added, to find their bytes.
  std::vector<fs::path> Names;

  // Every data block of every file was handed out.
  void CheckAllDelivered() const {
    for (size_t f = 0; f < replay_.FileCount(); ++f) {
      FUZZ_CHECK(!replay_.File(f).IsOpen());
      const auto& index = replay_.File(f).Index();
      const auto found = cursors_.find(f);
      for (size_t k = found == cursors_.end() ? 0 : found->second; k < index.size(); ++k)
        FUZZ_CHECK(IsEvent(index[k].Tag));
    }
  }

 private:
  const std::string& BytesOf(const TLidFileAccess& file) const {
    for (size_t i = 0; i < Names.size(); ++i)
      if (Names[i] == file.FileName()) return bytes_[i];
    CheckFailed(__FILE__, __LINE__, "a file that was never added is read");
  }

  void Check(bool event, int channel, const std::string& payload, TDateTime time) {
    const int current = replay_.CurrentIndex();
    FUZZ_CHECK(current >= 0 && static_cast<size_t>(current) < replay_.FileCount());
    const TLidFileAccess& file = replay_.File(static_cast<size_t>(current));
    const auto& index = file.Index();
    size_t& k = cursors_[static_cast<size_t>(current)];
    while (k < index.size() && IsEvent(index[k].Tag) &&
           !(event && index[k].Channel == channel && SameDouble(index[k].Time, time)))
      ++k;
    FUZZ_CHECK(k < index.size());
    const TLidFileAccess::IndexEntry& entry = index[k++];
    FUZZ_CHECK(IsEvent(entry.Tag) == event && entry.Channel == channel && SameDouble(entry.Time, time));
    const std::string& bytes = BytesOf(file);
    FUZZ_CHECK(entry.Position + kBlockHead <= bytes.size());
    const uint64_t length = LengthAt(bytes, entry.Position);
    FUZZ_CHECK(length >= kBlockHead && entry.Position + length <= bytes.size());
    FUZZ_CHECK(bytes.compare(entry.Position + kBlockHead, length - kBlockHead, payload) == 0);
  }

  TLidarReplay& replay_;
  std::vector<std::string> bytes_;
  std::map<size_t, size_t> cursors_;  // next index entry per file
};

int Run(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const uint8_t flags = in.Byte();
  const size_t count = 1 + (flags & 3) % 3;
  std::vector<std::string> files;
  for (size_t i = 0; i < count; ++i) files.push_back(in.Take(in.Word()));

  TScratchDir dir("replay");
  TManualClock clock;
  TManualLoop loop(clock);
  TRecordingPrompt prompt;
  TScopedServices services(TServices{&clock, &loop, &prompt, nullptr, nullptr});
  TApplicationConfig settings;
  settings.ConfigFolder = (dir.Path() / "config").string();
  settings.Setup.UseEmbeddedCalib = (flags & 4) != 0;
  TLidarReplay replay(&settings);
  replay.Open();
  replay.SetIndexWhileReading((flags & 8) != 0);
  THarness harness(replay, files);
  for (size_t i = 0; i < count; ++i) {
    harness.Names.push_back(dir.Path() / ("f" + std::to_string(i) + ".skv2"));
    WriteFileBytes(harness.Names.back(), files[i]);
    if (!replay.AddFile(harness.Names.back().string())) FUZZ_CHECK(!replay.RefusalReason().empty());
  }
  FUZZ_CHECK(replay.FileCount() <= count);
  for (size_t f = 0; f < replay.FileCount(); ++f) FUZZ_CHECK(replay.File(f).IndexCount() > 0);

  const bool started = replay.Start();
  FUZZ_CHECK(started == (replay.FileCount() > 0));
  if (started) {
    FUZZ_CHECK(loop.RunIdle(kMaxIdleCalls) < kMaxIdleCalls);
    FUZZ_CHECK(replay.Status.ReplayState() == TLidarReplay::ReplayDone && replay.Status.Text == "Done");
  }
  harness.CheckAllDelivered();
  return 0;
}

// Recordings of one instrument, added out of time order, with and without
// an end mark; one of another instrument; files with damaged fields.
TSeeds Seeds() {
  TScratchDir dir("replay-seed");
  auto file = [&](int variant, const std::string& serial, TDateTime firstTime) {
    const fs::path path = dir.Path() / "seed.skv2";
    WriteSkv2Seed(path, variant, serial, firstTime);
    const std::string bytes = ReadFileBytes(path);
    return std::string{static_cast<char>(bytes.size() & 0xFF), static_cast<char>(bytes.size() >> 8)} + bytes;
  };
  TSeeds seeds;
  seeds.emplace_back("three-in-any-order", "\x06" + file(0, "LS261001", 46000.6) + file(1, "LS261001", 46000.5) +
                                               file(2, "LS261001", 46000.7));
  seeds.emplace_back("torn-end", std::string(1, '\x00') + file(3, "LS261001", 46000.5));
  seeds.emplace_back("indexed-while-read", "\x09" + file(0, "LS261001", 46000.6) + file(3, "LS261001", 46000.5));
  seeds.emplace_back("two-instruments", "\x01" + file(0, "LS261001", 46000.5) + file(2, "LS261002", 46000.6));
  seeds.emplace_back("damaged-fields", "\x02" + file(4, "LS261001", 46000.5) + file(5, "LS261001", 46000.4) +
                                           file(6, "LS261001", 46000.6));
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::LidarReplay

SKYVANE_FUZZ_TARGET(LidarReplay, Seeds())
