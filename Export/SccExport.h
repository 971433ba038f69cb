#pragma once
// The raw-data file of the lidar network's processing chain: one file per
// measurement (a slice of the file-name pattern), the recorded counts of
// every profile summed over its shot records, uncorrected, with the laser
// shots and the start and stop seconds of each profile. Only the channels
// given a network identifier are written.
#include <map>
#include <optional>
#include <string>

#include "Export/NetcdfExport.h"

namespace OrlaqExport {

class TSccExport : public TNetcdfExport {
 public:
  // Monitoring field codes whose values the file reports for the station:
  // hPa and degrees Celsius.
  static constexpr const char* PressureCodes[] = {"PRESS", "PAMB"};
  static constexpr const char* TemperatureCodes[] = {"TAMB", "TAIR"};

  ~TSccExport() override;
  bool NeedsRawCounts() const override { return true; }

  // "1:101,2:102" into RecordID -> ID; false, with why, for a malformed list.
  static bool ParseChannelIds(const std::string& text, std::map<int, int>& ids, std::string& why);
  // Date, station code and start hour: "20261207xy14".
  static std::string MeasurementId(OrlaqLidar::TDateTime start, const std::string& station);

 protected:
  bool SelectChannels() override;
  std::string FileNameFor(OrlaqLidar::TDateTime t) const override;
  void DefineFile(const OrlaqLidar::TManagedProfile& first) override;
  size_t StoredRows(OrlaqLidar::TDateTime& lastStart) override;
  void WriteRow(const OrlaqLidar::TManagedProfile& profile, size_t channel, const TRow& row) override;
  void WritePending() override;

 private:
  // The variable (defined when a monitoring field carries the value) and
  // the value to write once the layout is done; -1 without such a field.
  int DefineStationValue(const OrlaqLidar::TManagedProfile& first, const char* variable, const char* const* codes,
                         const char* units, double& value);
  int Seconds(OrlaqLidar::TDateTime t) const;

  // Whole second of the first profile: the origin of the profile seconds.
  OrlaqLidar::TDateTime measurementStart_ = 0;
  size_t points_ = 0;
  // The stop time is a global attribute: changing one leaves and re-enters
  // define mode, which writes the file's whole metadata, so it is written
  // with the file's syncs only.
  std::optional<int> pendingStop_;
  std::string pendingFile_;
};

}  // namespace OrlaqExport
