#pragma once
// A small lidar instrument for the processing tests: channels with a chosen
// gate count, 2-byte gates and a "SHOOT" counter of 2 bytes after the gates,
// their calibrations, and shot records built from counts.
#include <cstdint>
#include <memory>
#include <vector>

#include "Common/DateTime.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar::Test {

inline std::unique_ptr<TChannelConfig> MakeLidarChannel(int recordId, int gates, bool shotCounter) {
  auto c = std::make_unique<TChannelConfig>();
  c->RecordID = recordId;
  c->Name = "Lidar" + std::to_string(recordId);
  c->USBDescriptor = "L" + std::to_string(recordId);
  c->Protocol = "LIDAR";
  c->DoorsCount = c->DoorsUsed = gates;
  c->DoorsByte = 2;
  c->DoorsTime = 100e-9;
  c->LaserPulse = 4096;
  if (shotCounter) {
    auto d = std::make_unique<TInfoDescription>();
    d->Name = "Shots";
    d->O = 0;
    d->B = 16;
    d->Options = "CODE:SHOOT";
    c->InfoDescriptions.push_back(std::move(d));
    c->InfoBytes = 2;
  }
  return c;
}

// Channels 1 and 2 are lidar channels, 3 a monitoring channel of one
// value; the INS has record id 9.
struct TProcessingFixture {
  explicit TProcessingFixture(int gates = 8, bool shotCounter = true, int processings = 55, int profileTime = 60) {
    definition.Channels.push_back(MakeLidarChannel(1, gates, shotCounter));
    definition.Channels.push_back(MakeLidarChannel(2, gates, shotCounter));
    auto monitor = std::make_unique<TChannelConfig>();
    monitor->RecordID = 3;
    monitor->Protocol = "LIDAR_MONITOR";
    monitor->InfoDescriptions.push_back(std::make_unique<TInfoDescription>());
    definition.Channels.push_back(std::move(monitor));
    definition.Airins = true;
    definition.AirinsConfig.RecordID = 9;
    for (const auto& c : definition.Channels)
      setup.Calibrations.push_back(
          std::make_unique<TCalibration>(c->RecordID, c->Type(), static_cast<unsigned>(c->DoorsCount)));
    args = std::make_unique<TProcessingArgs>(TProcessingSetup(processings, profileTime), &definition, &setup);
  }

  TCalibration& Calibration(int recordId) { return *setup.FindCalibration(recordId); }

  // A shot record: big-endian 2-byte counts, then the shot counter.
  std::vector<uint8_t> Shot(const std::vector<unsigned>& counts, unsigned laserShots = 1000) const {
    std::vector<uint8_t> b;
    for (unsigned c : counts) {
      b.push_back(static_cast<uint8_t>(c >> 8));
      b.push_back(static_cast<uint8_t>(c));
    }
    if (definition.Channels[0]->InfoBytes == 2) {
      b.push_back(static_cast<uint8_t>(laserShots >> 8));
      b.push_back(static_cast<uint8_t>(laserShots));
    }
    return b;
  }

  TLidarConfig definition;
  TLidarSetup setup;
  std::unique_ptr<TProcessingArgs> args;
};

// 1 May 2024 at a time of day, UTC.
inline TDateTime At(int hour, int minute, double seconds) {
  return EncodeDateTime(2024, 5, 1, hour, minute, 0) + seconds / SecondsPerDay;
}

}  // namespace OrlaqLidar::Test
