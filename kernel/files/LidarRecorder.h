#pragma once
// Writes every record and event of the live acquisition source into hourly
// recorded files under <DataFolder>/DIR_<SN>/<yyyymm>/, while the laser is on.
//
// Nothing is lost without a word: a slice file that cannot be appended to
// is moved aside (".bad") and a new one started; a file that cannot be
// opened at all is tried again every RetryOpenMs; a file or folder removed
// under the recorder is noticed within LinkCheckMs and made again. While
// records cannot be written the source's status counts them.
#include <cstdint>
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

  // The file of the current slice: open for writing, or the one that could
  // not be opened; none before the first record.
  const TLidFileAccess* CurrentFile() const { return file_.get(); }
  // Records and events not written since writing last worked.
  uint64_t NotWritten() const { return notWritten_; }

  // Recorded files always cover one hour.
  static constexpr int SliceMinutes = 60;
  // After a failed open no file is tried again for this long.
  static constexpr uint64_t RetryOpenMs = 10000;
  // The open file is checked this often to be still where its name leads.
  static constexpr uint64_t LinkCheckMs = 1000;
  // Added to the name of a damaged file moved out of the way.
  static constexpr const char* DamagedSuffix = ".bad";

 private:
  void Record(int channel, const uint8_t* data, int length, TDateTime time);
  void Event(int sourceId, const std::string& code, TDateTime time, const std::string& comment);
  // The file of the slice of time, ready to take a block; else failure says
  // why (empty while waiting to try again).
  bool Prepare(TDateTime time, std::string& failure);
  bool EnsureFile(std::string& failure);
  bool Open(const std::filesystem::path& path, std::string& failure);
  void Written();
  void NotWritten(const std::string& failure);
  void Flush();

  TApplicationConfig* settings_;
  TLidarAcquisition* source_ = nullptr;
  std::unique_ptr<TLidFileAccess> file_;
  bool fileReady_ = false;  // file_ is open for writing
  TDateTime sliceStart_;
  uint64_t lastOpenTick_ = 0;
  uint64_t lastLinkCheckTick_ = 0;
  uint64_t endAtLinkCheck_ = 0;  // the file's end of data when last found in place
  uint64_t blocksSinceCheck_ = 0;
  std::filesystem::path closedPath_;  // the file last closed, and where its data ended
  uint64_t closedEnd_ = 0;
  uint64_t notWritten_ = 0;
  std::string lastFailure_;  // logged once while it repeats
  // Every block is on the disk soon after it is written, without the
  // acquisition waiting for the disk.
  TFileSyncer syncer_;
};

}  // namespace OrlaqLidar
