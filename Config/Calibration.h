#pragma once
// Calibration data of one channel: detector model (dead-time correction),
// afterpulse profile, overlap profile and the sky background window. Only
// lidar channels carry data; for every other channel type the object is
// empty and its operations do nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Config/ChannelConfig.h"

namespace OrlaqLidar {

class TCalibration {
 public:
  // Values of ApdState, OverlapState and AfterPulseState.
  static constexpr uint8_t StateNone = 0;
  static constexpr uint8_t StateAttempted = 1;  // ApdState only: Load ran
  static constexpr uint8_t StatePresent = 2;    // values read from a file or an embedded block

  // Kinds of the embedded calibration items carried by recorded files.
  static constexpr int KindAfterPulse = 0;
  static constexpr int KindOverlap = 1;
  static constexpr int KindDetector = 2;
  // Detector item: ApdFlag, then DeadTime, ApdOffset, ApdScale as
  // little-endian doubles.
  static constexpr size_t DetectorBlockSize = 25;

  static constexpr const char* ApdFileName = "APDCoefs.txt";
  static constexpr const char* AfterPulseFileName = "AfterPulse.txt";
  static constexpr const char* OverlapFileName = "Overlap.txt";

  static constexpr uint16_t HeadAlive = 0x1234;
  static constexpr uint16_t HeadDeleted = 0x5678;
  static constexpr uint16_t TailAlive = 0x4321;
  static constexpr uint16_t TailDeleted = 0x8765;

  TCalibration(int channel, TChannelType type, unsigned doorsCount);
  ~TCalibration();
  TCalibration(const TCalibration&) = delete;
  TCalibration& operator=(const TCalibration&) = delete;

  bool IsLidar() const { return Type == TChannelType::Lidar; }

  // Sets the three file paths below calibrationFolder (lidar only).
  void SetFilenames(const std::string& calibrationFolder);
  // Reads the three files that exist. False for a non-lidar channel.
  // Throws ECalibrationError for a file with too few useful lines; the
  // values of the files read before it stay.
  bool Load();
  // Writes AfterPulse to AfterPulseFile, the older file kept as ".bak";
  // freeText lines go into the header. Errors are logged, not reported.
  void Save(const std::vector<std::string>& freeText = {});
  // Replaces a table from an embedded item (kind 0, 1 or 2); the bytes are
  // copied, doubles are little-endian. Other kinds, a detector item that is
  // not 25 bytes long and non-lidar channels change nothing.
  void UpdateCalibration(int kind, const uint8_t* data, size_t length);
  // The embedded item of one kind as UpdateCalibration takes it back.
  std::vector<uint8_t> BuildEmbeddedBlock(int kind) const;

  // Drops blank lines and comment lines (first non-blank character one of
  // # ; ' " * / !), in place.
  void TrimComments(std::vector<std::string>& lines) const;
  // Channel folder: calibrationFolder / ("Channel" + number).
  std::string BuildDirName(const std::string& calibrationFolder) const;

  // Logs what is wrong with the object's integrity marks; true when intact.
  // Runs at the start of every operation.
  static bool CheckIntegrity(const TCalibration* calibration, const char* where);

  uint16_t HeadGuard = HeadAlive;
  uint8_t ApdFlag = 0;
  double DeadTime = 2.5e-08;  // seconds
  double ApdOffset = 300.0;
  double ApdScale = 0.55;
  int Channel = 0;
  TChannelType Type = TChannelType::Unknown;
  unsigned AfterPulseCount = 0;
  std::vector<double> AfterPulse;  // AfterPulseCount values
  unsigned OverlapCount = 0;
  std::vector<double> OverlapInverse;  // OverlapCount values, 1 / overlap
  double BackgroundStart = 0.9;        // fraction of the profile length
  double BackgroundEnd = 0.99;
  std::string ApdFile;
  std::string OverlapFile;
  std::string AfterPulseFile;
  uint8_t ApdState = StateNone;
  uint8_t OverlapState = StateNone;
  uint8_t AfterPulseState = StateNone;
  uint16_t TailGuard = TailAlive;
};

using TListCalibration = std::vector<std::unique_ptr<TCalibration>>;

}  // namespace OrlaqLidar
