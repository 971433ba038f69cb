#pragma once
// The acquisition source of reader mode: plays recorded files through the
// same record, event and status dispatch as the live instrument, so that
// consumers cannot tell replayed data from live data.
//
// Files are indexed when added and the index is all that is kept of a file;
// only the file being read is open. Reading runs from the main loop's idle
// handler, a portion of blocks per call.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "kernel/LidarManager.h"
#include "kernel/files/LidFileAccess.h"

namespace OrlaqLidar {

class TLidarReplay : public TLidarManager {
 public:
  // Replay states carried by the status record.
  enum TReplayState : uint8_t { ReplayIdle = 0, ReplayDone = 1, ReplayLoading = 2, ReplayLoadingFiles = 3 };

  static constexpr const char* SourceName = "Replay";
  static constexpr int BlocksPerIdleCall = 60;
  static constexpr uint32_t ForeignInstrumentError = 0x80000011;
  static constexpr const char* ForeignInstrumentText = "Some files don't come from the same instrument";

  explicit TLidarReplay(TApplicationConfig* settings);
  ~TLidarReplay() override;

  bool Open() override;
  bool Close() override;
  // Opens the current file and begins reading; true when reading began.
  bool Start() override;
  bool Stop() override;
  bool SetPower(bool on) override;
  std::string GetSerialNumber() override { return serialNumber_; }

  // Files added from now on are indexed up to their first block only, the
  // rest while they are read: for a run that reads every file once from
  // start to end and never seeks, which then reads each file once.
  void SetIndexWhileReading(bool on) { indexWhileReading_ = on; }

  void ClearFiles();
  // True when the file is loaded or was loaded already. When false,
  // RefusalReason says why.
  bool AddFile(const std::string& fileName);
  void Rewind();
  // Positions after the loaded files: the next start reads the first file
  // added from now on.
  void ToEnd();
  // Positions on the first block within tolerance of time, in the first
  // loaded file holding one; the next start reads from there up to stopTime
  // (0: to the end). False when no file holds such a block.
  bool Goto(TDateTime time, TDateTime stopTime, double toleranceSeconds);
  std::string CurrentFileName() const;

  // The idle reader: reads the next portion. True while it wants another
  // call; false once the replay is done (it has then stopped).
  bool OnIdle();

  size_t FileCount() const { return files_.size(); }
  const TLidFileAccess& File(size_t i) const { return *files_[i]; }
  int CurrentIndex() const { return index_; }
  TDateTime StopTime() const { return stopTime_; }
  TDateTime CreationTime() const { return creationTime_; }
  const std::string& RefusalReason() const { return refusal_; }

 private:
  // Opens files[index] as the current file with its handlers set.
  bool OpenCurrent();
  // OpenCurrent unless a file is current, then the record and event
  // handlers: the manager's own dispatch, as for the live instrument.
  bool BeginReading();
  void CloseCurrent();
  void SortFiles();
  void SetReplay(uint8_t state, const std::string& text);

  std::string serialNumber_;
  TLidFileAccess* current_ = nullptr;
  int index_ = -1;
  std::vector<std::unique_ptr<TLidFileAccess>> files_;
  TDateTime stopTime_ = 0;
  TDateTime creationTime_;
  bool idleInstalled_ = false;
  bool indexWhileReading_ = false;
  std::string refusal_;
};

}  // namespace OrlaqLidar
