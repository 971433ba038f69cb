#pragma once
// The daily file of range-corrected signal exchanged by the lidar and
// ceilometer networks: CF conventions, NetCDF-4 with compression, one file
// per UTC day, a row per profile period with every lidar channel's profile
// processed with the export's processing code.
#include <string>

#include "Export/NetcdfExport.h"

namespace OrlaqExport {

class TCfExport : public TNetcdfExport {
 public:
  ~TCfExport() override;

  // "rcs_<RecordID>" and "laser_shots_<RecordID>".
  static std::string SignalName(int recordId);
  static std::string ShotsName(int recordId);

 protected:
  bool SelectChannels() override;
  std::string FileNameFor(OrlaqLidar::TDateTime t) const override;
  void DefineFile(const OrlaqLidar::TManagedProfile& first) override;
  size_t StoredRows(OrlaqLidar::TDateTime& lastStart) override;
  void WriteRow(const OrlaqLidar::TManagedProfile& profile, size_t channel, const TRow& row) override;

 private:
  size_t ranges_ = 0;
  std::vector<float> buffer_;
};

}  // namespace OrlaqExport
