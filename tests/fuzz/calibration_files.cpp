// libFuzzer target: the calibration files of a lidar channel (detector
// values, afterpulse, overlap) and the calibration items embedded in
// recorded files. The input gives the gate count, which files exist and
// their texts. Loading either succeeds or fails at one named file with too
// few values; the tables always keep one value per gate. The afterpulse
// file written from what was read loads back to the same values, the file
// it replaced is kept as the backup, and every embedded item reads back as
// it was built.
// fuzz-sources:
#include <filesystem>
#include <string>
#include <vector>

#include "Config/Calibration.h"
#include "Config/CalibrationError.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::CalibrationFiles {

namespace fs = std::filesystem;

bool SameValues(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!SameDouble(a[i], b[i])) return false;
  return true;
}

void CheckTables(const TCalibration& c, unsigned doors) {
  FUZZ_CHECK(c.AfterPulseCount == doors && c.AfterPulse.size() == doors);
  FUZZ_CHECK(c.OverlapCount == doors && c.OverlapInverse.size() == doors);
}

// Every embedded item reads back as it was built, into a calibration of
// any gate count.
void CheckEmbeddedItems(const TCalibration& c) {
  TCalibration copy(c.Channel, TChannelType::Lidar, 3);
  for (int kind : {TCalibration::KindAfterPulse, TCalibration::KindOverlap, TCalibration::KindDetector}) {
    const std::vector<uint8_t> item = c.BuildEmbeddedBlock(kind);
    copy.UpdateCalibration(kind, item.data(), item.size());
    FUZZ_CHECK(copy.BuildEmbeddedBlock(kind) == item);
  }
  FUZZ_CHECK(SameValues(copy.AfterPulse, c.AfterPulse) && SameValues(copy.OverlapInverse, c.OverlapInverse));
  FUZZ_CHECK(copy.ApdFlag == c.ApdFlag && SameDouble(copy.DeadTime, c.DeadTime) &&
             SameDouble(copy.ApdOffset, c.ApdOffset) && SameDouble(copy.ApdScale, c.ApdScale));
}

// Raw bytes as an embedded item: the tables take whole doubles, the
// detector item only at its exact size, other kinds nothing.
void CheckRawItem(int kind, const std::string& bytes) {
  TCalibration c(1, TChannelType::Lidar, 4);
  const std::vector<uint8_t> before = c.BuildEmbeddedBlock(kind);
  c.UpdateCalibration(kind, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const std::vector<uint8_t> after = c.BuildEmbeddedBlock(kind);
  if (kind != TCalibration::KindAfterPulse && kind != TCalibration::KindOverlap &&
      kind != TCalibration::KindDetector) {
    FUZZ_CHECK(after == before);
  } else if (kind == TCalibration::KindDetector) {
    const bool taken = bytes.size() == TCalibration::DetectorBlockSize;
    FUZZ_CHECK(after == (taken ? std::vector<uint8_t>(bytes.begin(), bytes.end()) : before));
  } else {
    FUZZ_CHECK(after == std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 8 * 8)));
  }
  TCalibration monitor(1, TChannelType::Monitor, 4);
  monitor.UpdateCalibration(kind, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  FUZZ_CHECK(monitor.AfterPulse.empty() && monitor.OverlapInverse.empty() && monitor.ApdState == 0);
}

int Run(const uint8_t* data, size_t size) {
  TInput in(data, size);
  const unsigned doors = in.Byte() % 48;
  const uint8_t present = in.Byte();
  const size_t apdLength = in.Word() % 4096, afterPulseLength = in.Word() % 4096;
  const std::string texts[3] = {in.Take(apdLength), in.Take(afterPulseLength), in.Rest()};
  const char* const names[3] = {TCalibration::ApdFileName, TCalibration::AfterPulseFileName,
                                TCalibration::OverlapFileName};

  TScratchDir dir("calibration");
  TCalibration c(1, TChannelType::Lidar, doors);
  c.SetFilenames((dir.Path() / "CAL").string());
  const fs::path channelDir = c.BuildDirName((dir.Path() / "CAL").string());
  fs::create_directories(channelDir);
  for (int k = 0; k < 3; ++k)
    if (present & (1 << k)) WriteFileBytes(channelDir / names[k], texts[k]);

  int failedAt = 3;
  try {
    FUZZ_CHECK(c.Load());
  } catch (const ECalibrationError& e) {
    for (int k = 0; k < 3; ++k)
      if (e.FileName == (channelDir / names[k]).string()) failedAt = k;
    FUZZ_CHECK(failedAt < 3 && (present & (1 << failedAt)));
    FUZZ_CHECK(std::string(e.what()).rfind("Not enough values in calibration file ", 0) == 0);
  }
  CheckTables(c, doors);
  const uint8_t states[3] = {c.ApdState, c.AfterPulseState, c.OverlapState};
  for (int k = 0; k < 3; ++k) {
    const bool read = k < failedAt && (present & (1 << k));
    FUZZ_CHECK(states[k] == (read ? TCalibration::StatePresent : k == 0 ? TCalibration::StateAttempted : 0));
  }
  CheckEmbeddedItems(c);

  // Written and read back in another folder: the same values.
  c.AfterPulseState = TCalibration::StatePresent;
  c.Save({"# Channel 1", "! fuzz"});
  const std::string saved = ReadFileBytes(channelDir / TCalibration::AfterPulseFileName);
  const fs::path backup = channelDir / "AfterPulse.bak";
  if ((present & 2) && !texts[1].empty()) FUZZ_CHECK(ReadFileBytes(backup) == texts[1]);
  TCalibration back(1, TChannelType::Lidar, doors);
  back.SetFilenames((dir.Path() / "BACK").string());
  fs::create_directories(back.BuildDirName((dir.Path() / "BACK").string()));
  WriteFileBytes(back.AfterPulseFile, saved);
  FUZZ_CHECK(back.Load());
  FUZZ_CHECK(back.AfterPulseState == TCalibration::StatePresent && SameValues(back.AfterPulse, c.AfterPulse));

  for (int kind = 0; kind < 4; ++kind) CheckRawItem(kind, texts[kind % 3]);
  return 0;
}

std::string Program(unsigned doors, uint8_t present, const std::string& apd, const std::string& afterPulse,
                    const std::string& overlap) {
  std::string p = {static_cast<char>(doors), static_cast<char>(present)};
  for (size_t n : {apd.size(), afterPulse.size()}) {
    p += static_cast<char>(n & 0xFF);
    p += static_cast<char>(n >> 8);
  }
  return p + apd + afterPulse + overlap;
}

// Files as the calibration procedure and the factory write them, and as
// hands edit them.
TSeeds Seeds() {
  const std::string apd = "# Detector\n0\n2.5e-08\n300\n0.55\n";
  std::string afterPulse = "# File generated by Skyvane\n# AfterPulse\n# Date: 15/06/2026,12:00:00\n";
  std::string overlap = "; Overlap\n";
  for (int i = 0; i < 8; ++i) {
    afterPulse += std::to_string(i * 0.125) + "\n";
    overlap += (i == 0 ? std::string("0") : std::to_string(1.0 - 1.0 / (i + 1))) + "\n";
  }
  afterPulse += "# End\n";
  TSeeds seeds;
  seeds.emplace_back("all-files", Program(8, 7, apd, afterPulse, overlap));
  seeds.emplace_back("hand-edited",
                     Program(4, 7, "  ' flag\r\n1\r\n3,5e-8\r\n\r\n* offset\r\n250.5 # comment\r\n0,6\r\n7\r\n",
                             "\"a\n/b\n!c\n1e-3\n-2\nINF\nnan\n", "2\n0,5\n\t4\n1e308\n"));
  seeds.emplace_back("too-few", Program(16, 6, "", "1\n2\n", overlap));
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::CalibrationFiles

SKYVANE_FUZZ_TARGET(CalibrationFiles, Seeds())
