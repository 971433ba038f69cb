#pragma once
// Recorded files to start the fuzzers of the file reader and of the replay
// from: well-formed ones with every kind of block, and damage that a reader
// passes over and only a strict check finds.
#include <filesystem>
#include <memory>
#include <string>

#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz {

constexpr int kWellFormedSkv2Seeds = 4;
constexpr int kSkv2Seeds = 7;

// A well-formed file with every kind of block, calibration items of every
// kind and, for odd variants, no end mark; variants from kWellFormedSkv2Seeds
// on have a field no writer produces. An empty serial number gives each
// variant its own. firstTime: the time of the first data block.
inline void WriteSkv2Seed(const std::filesystem::path& path, int variant, const std::string& serial = "",
                          TDateTime firstTime = 46000.5) {
  namespace fs = std::filesystem;
  if (variant >= kWellFormedSkv2Seeds) {
    WriteSkv2Seed(path, variant == 5 ? 2 : 0, serial, firstTime);
    std::string bytes = ReadFileBytes(path);
    switch (variant) {
      case 4: bytes[bytes.size() - 12] = 17; break;  // end mark length
      case 5: bytes.replace(8 + 4, 2, "13"); break;  // creation month
      default: bytes[31 + 1] = '\x07'; break;        // a byte of the model code
    }
    WriteFileBytes(path, bytes);
    return;
  }
  TApplicationConfig settings;
  settings.LidarConfig.Code = "ORLAQ";
  settings.DefinitionText = "[General]\nName=Orlaq\n";
  auto cal = std::make_unique<TCalibration>(1, TChannelType::Lidar, 3);
  cal->AfterPulseState = cal->OverlapState = cal->ApdState = TCalibration::StatePresent;
  settings.Setup.Calibrations.push_back(std::move(cal));
  TLidFileAccess::TInstrumentInfo info;
  info.SerialNumber = serial.empty() ? "SEED" + std::to_string(variant) : serial;
  info.LidarChannels = {{1, "FW 100abc"}};
  info.MonitorChannels = {{5, "MonitorLid001000001"}};
  info.HasAirins = variant % 3 == 0;
  info.AirinsRecordID = 99;
  std::error_code ec;
  fs::remove(path, ec);
  auto file = std::make_unique<TLidFileAccess>(path, settings);
  if (file->OpenForWriting(&info) != 0) return;
  for (int i = 0; i < 3 + variant % 4; ++i) {
    const TDateTime t = firstTime + i / 86400.0;
    const uint8_t shot[12] = {static_cast<uint8_t>(i), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const double mon[2] = {1.0 * i, 20.5};
    file->WriteShoot(1, t, shot, sizeof shot);
    file->WriteMonitor(5, t, reinterpret_cast<const uint8_t*>(mon), sizeof mon);
    if (i == 1) file->WriteEvent(0, t, "USN", "seed note");
    if (i == 2) file->WriteOption(99, t, shot, sizeof shot);
  }
  if (variant % 2) {
    // Ends like a file whose writer was killed: no end mark.
    const uint64_t end = file->EndOfData();
    file.reset();
    fs::resize_file(path, end, ec);
  }
}

// The seed files' bytes, for a target that takes them as they are.
inline TSeeds Skv2SeedFiles() {
  TScratchDir dir("skv2-seed");
  TSeeds seeds;
  for (int v = 0; v < kSkv2Seeds; ++v) {
    const std::filesystem::path path = dir.Path() / ("seed" + std::to_string(v) + ".skv2");
    WriteSkv2Seed(path, v);
    seeds.emplace_back(path.filename().string(), ReadFileBytes(path));
  }
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz
