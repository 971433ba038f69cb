#pragma once
// Base of the NetCDF exports: the completed profiles of the lidar channels
// become rows of one file, one row per profile period holding every
// channel's profile of that period; a row goes to the file its start names
// and the file is synced after every profile, so that a crash costs at most
// the profile being written (an export of recorded files, which can be run
// again, syncs once a second). An existing file is continued after its last
// whole row; profiles of periods it already holds are not written again.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Export/ExportTemplate.h"
#include "Export/NetcdfFile.h"
#include "Export/OrderedWork.h"

namespace OrlaqExport {

class TNetcdfExport : public TExportTemplate {
 public:
  static constexpr const char* ProgramVersion = "Skyvane 2.06";

  // Closes the open file first: the next profile names it anew.
  bool SetArguments(const OrlaqLidar::TProcessingArgs* arguments) override;
  // Chooses the exported channels; false (with Refusal) when none is.
  bool SetParameters(const TExportParameters* parameters) override;
  bool WriteProfile(const OrlaqLidar::TProfile& profile) override;
  // Rows written and synced on a second thread; the open, define and close
  // of files stay here, each after the queued work is done.
  void SetWorkBehind(bool on) override;
  long long Flush() override;
  bool Close() override;
  std::string GetDescription() const override { return file_.IsOpen() ? file_.Name() : std::string(); }

 protected:
  struct TChannel {
    const OrlaqLidar::TChannelConfig* Config = nullptr;
    int NetworkId = 0;
  };
  // The row being filled: its index in the file and the span of its profiles.
  struct TRow {
    size_t Index = 0;
    long long Period = 0;
    OrlaqLidar::TDateTime Start = 0;
    OrlaqLidar::TDateTime Stop = 0;
    std::vector<bool> Present;
  };

  // Fills channels_ from the definition and the parameters; false with refusal_ set.
  virtual bool SelectChannels() = 0;
  // The file of the row starting at t.
  virtual std::string FileNameFor(OrlaqLidar::TDateTime t) const = 0;
  // Lays out a new file; first is the profile opening it.
  virtual void DefineFile(const OrlaqLidar::TManagedProfile& first) = 0;
  // In a reopened file: the whole rows it holds and the start of the last
  // (0 without rows). Throws for a file of another layout.
  virtual size_t StoredRows(OrlaqLidar::TDateTime& lastStart) = 0;
  // Writes the profile of channels_[channel] into the row; the row's own
  // values (times) last, so that a row counts as stored only when they are.
  virtual void WriteRow(const OrlaqLidar::TManagedProfile& profile, size_t channel, const TRow& row) = 0;
  // Writes what WriteRow kept back for the next sync of the open file
  // (values whose writing costs a sync of their own).
  virtual void WritePending() {}

  // The lidar channels of the definition in their order.
  std::vector<const OrlaqLidar::TChannelConfig*> LidarChannels() const;
  // Zenith angle of the beam from the setup's tilt, degrees.
  double PointingAngle() const;

  TNetcdfFile file_;
  std::vector<TChannel> channels_;

 private:
  static constexpr uint64_t RecordedSyncMs = 1000;
  // A few rows queued keep the second thread busy; more would only hold memory.
  static constexpr size_t MaxQueued = 8;
  void OpenFileFor(const OrlaqLidar::TManagedProfile& profile, const std::string& name);
  void SyncWhenDue();
  bool SyncDue() const;
  // Runs WriteRow on the second thread, for a copy of what it reads.
  void WriteRowBehind(const OrlaqLidar::TManagedProfile& profile, size_t channel);
  // Takes the outcomes of the queued work until at most keep are queued;
  // a failure is logged and, once nothing is queued, closes the file as a
  // failure in place does.
  void Settle(size_t keep);
  static long long PeriodOf(const OrlaqLidar::TManagedProfile& profile);

  std::optional<TRow> row_;
  size_t rows_ = 0;
  long long lastStoredPeriod_ = -1;
  bool hasStored_ = false;
  std::optional<uint64_t> lastSync_;
  std::unique_ptr<TOrderedWork> behind_;
  long long lateFailures_ = 0;
};

}  // namespace OrlaqExport
