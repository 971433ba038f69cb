#pragma once
// Writes every record and event of the live acquisition source into hourly
// recorded files under <DataFolder>/DIR_<SN>/<yyyymm>/, while the laser is on.
#include <filesystem>
#include <memory>
#include <string>

#include "Common/DateTime.h"
#include "kernel/files/FileSyncer.h"

namespace OrlaqLidar {

class TApplicationConfig;
class TLidarAcquisition;
class TLidFileAccess;

class TLidarRecorder {
 public:
  explicit TLidarRecorder(TApplicationConfig* settings);
  ~TLidarRecorder();
  TLidarRecorder(const TLidarRecorder&) = delete;
  TLidarRecorder& operator=(const TLidarRecorder&) = delete;

  void Attach(TLidarAcquisition* source);
  void Detach();

  // Path of the file of a slice for a serial number.
  std::filesystem::path SlicePath(TDateTime sliceStart, const std::string& serial) const;
  // Start of the slice a time belongs to.
  static TDateTime SliceStart(TDateTime t, int sliceMinutes = SliceMinutes);

  const TLidFileAccess* CurrentFile() const { return file_.get(); }

  // Recorded files always cover one hour.
  static constexpr int SliceMinutes = 60;

 private:
  void Record(int channel, const uint8_t* data, int length, TDateTime time);
  void Event(int sourceId, const std::string& code, TDateTime time, const std::string& comment);
  bool Prepare(TDateTime time);
  int EnsureFile();
  void Written();

  TApplicationConfig* settings_;
  TLidarAcquisition* source_ = nullptr;
  std::unique_ptr<TLidFileAccess> file_;
  TDateTime sliceStart_;
  // Every block is on the disk soon after it is written, without the
  // acquisition waiting for the disk.
  TFileSyncer syncer_;
};

}  // namespace OrlaqLidar
