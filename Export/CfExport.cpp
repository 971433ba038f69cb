#include "Export/CfExport.h"

#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Export/ExportPattern.h"
#include "Platform/Services.h"
#include "kernel/processing/DistanceCompute.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

namespace {
// Shuffled floats gain little from the slower levels; the export must
// keep up with the text export of the same day.
constexpr int CompressionLevel = 1;
constexpr const char* DayPattern = "%SN%_%YYYY%%MM%%DD%";
}  // namespace

TCfExport::~TCfExport() { TCfExport::Close(); }

std::string TCfExport::SignalName(int recordId) { return "rcs_" + std::to_string(recordId); }
std::string TCfExport::ShotsName(int recordId) { return "laser_shots_" + std::to_string(recordId); }

bool TCfExport::SelectChannels() {
  for (const TChannelConfig* c : LidarChannels()) channels_.push_back({c, c->RecordID});
  if (channels_.empty()) {
    refusal_ = "CF export: the instrument definition has no lidar channel";
    return false;
  }
  ranges_ = static_cast<size_t>(std::max(channels_.front().Config->DoorsUsed, 0));
  return true;
}

std::string TCfExport::FileNameFor(TDateTime t) const {
  // One file a day: the slice of the pattern does not split it.
  TExportParameters day = *parameters_;
  day.MinutesSlice = 0;
  if (day.FilePattern == TExportConfig::DefaultPattern) day.FilePattern = DayPattern;
  return ExportFileName(day, arguments_->LidarSetup->SerialNumber, t, ".nc");
}

void TCfExport::DefineFile(const TManagedProfile& first) {
  const int id = file_.Id();
  const TLidarSetup& setup = *arguments_->LidarSetup;
  const TLidarConfig& definition = *arguments_->Definition;
  const std::string code = TProcessingSetup::ToCode(parameters_->Processing.Processings);
  int time = 0, range = 0;
  NcCheck(nc_def_dim(id, "time", NC_UNLIMITED, &time), "dimension time");
  NcCheck(nc_def_dim(id, "range", ranges_, &range), "dimension range");

  int vTime = 0, vRange = 0, vAltitude = 0, vLat = 0, vLon = 0, vStation = 0;
  NcCheck(nc_def_var(id, "time", NC_DOUBLE, 1, &time, &vTime), "variable time");
  file_.PutText(vTime, "standard_name", "time");
  file_.PutText(vTime, "long_name", "start of the profile");
  file_.PutText(vTime, "units", "seconds since 1970-01-01 00:00:00 UTC");
  file_.PutText(vTime, "calendar", "standard");
  NcCheck(nc_def_var(id, "range", NC_DOUBLE, 1, &range, &vRange), "variable range");
  file_.PutText(vRange, "long_name", "distance of the gate from the lidar along the beam");
  file_.PutText(vRange, "units", "m");
  NcCheck(nc_def_var(id, "altitude", NC_DOUBLE, 1, &range, &vAltitude), "variable altitude");
  file_.PutText(vAltitude, "standard_name", "altitude");
  file_.PutText(vAltitude, "long_name", "altitude of the gate above sea level");
  file_.PutText(vAltitude, "units", "m");
  NcCheck(nc_def_var(id, "latitude", NC_DOUBLE, 0, nullptr, &vLat), "variable latitude");
  file_.PutText(vLat, "standard_name", "latitude");
  file_.PutText(vLat, "units", "degrees_north");
  NcCheck(nc_def_var(id, "longitude", NC_DOUBLE, 0, nullptr, &vLon), "variable longitude");
  file_.PutText(vLon, "standard_name", "longitude");
  file_.PutText(vLon, "units", "degrees_east");
  NcCheck(nc_def_var(id, "station_altitude", NC_DOUBLE, 0, nullptr, &vStation), "variable station_altitude");
  file_.PutText(vStation, "long_name", "altitude of the lidar above sea level");
  file_.PutText(vStation, "units", "m");

  const bool rangeSquared = parameters_->Processing.Processings & TProcessingSetup::FlagRange2;
  const float fill = std::numeric_limits<float>::quiet_NaN();
  const size_t chunk[] = {1, std::max<size_t>(ranges_, 1)};
  for (const TChannel& c : channels_) {
    const int dims[] = {time, range};
    int v = 0;
    const std::string name = SignalName(c.Config->RecordID);
    NcCheck(nc_def_var(id, name.c_str(), NC_FLOAT, 2, dims, &v), "variable " + name);
    NcCheck(nc_def_var_chunking(id, v, NC_CHUNKED, chunk), "chunks of " + name);
    NcCheck(nc_def_var_deflate(id, v, 1, 1, CompressionLevel), "compression of " + name);
    NcCheck(nc_def_var_fill(id, v, NC_FILL, &fill), "fill value of " + name);
    file_.PutText(v, "long_name", (rangeSquared ? "range-corrected signal of channel " : "signal of channel ") +
                                      (c.Config->Name.empty() ? std::to_string(c.Config->RecordID) : c.Config->Name));
    file_.PutText(v, "units", rangeSquared ? "m2" : "1");
    file_.PutText(v, "processing", code);
    file_.PutDouble(v, "wavelength", c.Config->WaveLength);
    file_.PutText(v, "wavelength_units", "nm");
    file_.PutText(v, "polarization", std::string(1, c.Config->Polarization));
    const std::string shots = ShotsName(c.Config->RecordID);
    NcCheck(nc_def_var(id, shots.c_str(), NC_INT, 1, &time, &v), "variable " + shots);
    file_.PutText(v, "long_name", "laser shots of the profile");
    file_.PutText(v, "units", "1");
  }

  file_.PutText(NC_GLOBAL, "Conventions", "CF-1.8");
  file_.PutText(NC_GLOBAL, "title", "Lidar profiles of instrument " + setup.SerialNumber);
  file_.PutText(NC_GLOBAL, "institution", parameters_->Institution);
  file_.PutText(NC_GLOBAL, "source", "ground-based lidar " + definition.Code + " serial " + setup.SerialNumber);
  file_.PutText(NC_GLOBAL, "history",
                FormatDateTime(Services().Clock->NowUTC(), false) + " UTC created by " + ProgramVersion);
  NcCheck(nc_enddef(id), "layout of " + file_.Name());

  double latitude = setup.LatitudeBase, longitude = setup.LongitudeBase, altitude = setup.AltitudeBase;
  if (const auto ins = first.GetAirinsData(); ins && ins->IsValid()) {
    latitude = ins->Latitude();
    longitude = ins->Longitude();
    altitude = ins->Altitude();
  }
  const TChannelConfig& c = *channels_.front().Config;
  const double cosTheta = std::cos(TDistanceCompute::ZenithAngle(setup.RollBase, setup.PitchBase));
  std::vector<double> distances(ranges_), altitudes(ranges_);
  for (size_t i = 0; i < ranges_; ++i) {
    distances[i] = static_cast<double>(i + 1) * TDistanceCompute::HalfLightSpeed * c.DoorsTime +
                   TDistanceCompute::HalfLightSpeed * c.OffsetTime;
    altitudes[i] = distances[i] * cosTheta + altitude;
  }
  if (ranges_) {
    NcCheck(nc_put_var_double(id, vRange, distances.data()), "range");
    NcCheck(nc_put_var_double(id, vAltitude, altitudes.data()), "altitude");
  }
  NcCheck(nc_put_var_double(id, vLat, &latitude), "latitude");
  NcCheck(nc_put_var_double(id, vLon, &longitude), "longitude");
  NcCheck(nc_put_var_double(id, vStation, &altitude), "station_altitude");
}

size_t TCfExport::StoredRows(TDateTime& lastStart) {
  if (file_.DimensionLength("range") != ranges_) throw ENetcdfError("other gates than this export's");
  for (const TChannel& c : channels_)
    if (!file_.HasVariable(SignalName(c.Config->RecordID).c_str()))
      throw ENetcdfError("no variable for channel " + std::to_string(c.Config->RecordID));
  const size_t length = file_.DimensionLength("time");
  std::vector<double> times(length);
  if (length) NcCheck(nc_get_var_double(file_.Id(), file_.Variable("time"), times.data()), "time");
  // A row whose time is not written was cut by a crash: it is written anew.
  size_t rows = 0;
  while (rows < length && times[rows] != NC_FILL_DOUBLE && std::isfinite(times[rows])) ++rows;
  lastStart = rows ? UnixToDateTime(times[rows - 1]) : 0;
  return rows;
}

void TCfExport::WriteRow(const TManagedProfile& profile, size_t channel, const TRow& row) {
  const int id = file_.Id();
  const TChannelConfig& c = *channels_[channel].Config;
  const size_t gates = std::min({ranges_, profile.Signal.size(), static_cast<size_t>(std::max(profile.DoorCount, 0))});
  buffer_.assign(ranges_, std::numeric_limits<float>::quiet_NaN());
  for (size_t i = 0; i < gates; ++i) buffer_[i] = static_cast<float>(profile.Signal[i]);
  const size_t start[] = {row.Index, 0};
  const size_t count[] = {1, ranges_};
  if (ranges_)
    NcCheck(nc_put_vara_float(id, file_.Variable(SignalName(c.RecordID).c_str()), start, count, buffer_.data()),
            SignalName(c.RecordID));
  const int shots = profile.LaserShots;
  NcCheck(nc_put_var1_int(id, file_.Variable(ShotsName(c.RecordID).c_str()), &row.Index, &shots), ShotsName(c.RecordID));
  // To the millisecond the date-time holds, without its representation error.
  const double t = std::round(DateTimeToUnix(row.Start) * 1000.0) / 1000.0;
  NcCheck(nc_put_var1_double(id, file_.Variable("time"), &row.Index, &t), "time");
}

}  // namespace OrlaqExport
