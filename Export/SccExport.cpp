#include "Export/SccExport.h"

#include <netcdf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <utility>

#include "Common/StringUtils.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Export/ExportPattern.h"
#include "kernel/MonitorData.h"
#include "kernel/processing/BrightnessSky.h"
#include "kernel/processing/DistanceCompute.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

namespace {

std::string Digits(const char* format, int a, int b, int c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, a, b, c);
  return buf;
}

std::string DateText(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  return Digits("%04d%02d%02d", p.Year, p.Month, p.Day);
}

std::string TimeText(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  return Digits("%02d%02d%02d", p.Hour, p.Minute, p.Second);
}

TDateTime WholeSecond(TDateTime t) { return UnixToDateTime(std::floor(DateTimeToUnix(t) + 1e-6)); }

bool ParseInt(const std::string& text, int& value) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 9) return false;
  for (char c : t)
    if (c < '0' || c > '9') return false;
  value = std::stoi(t);
  return true;
}

// Gate i lies at (i + 1) gate lengths plus the offset, as the distance processing puts it.
double GateDistance(const TChannelConfig& c, int gate) {
  return (gate + 1) * TDistanceCompute::HalfLightSpeed * c.DoorsTime + TDistanceCompute::HalfLightSpeed * c.OffsetTime;
}

}  // namespace

TSccExport::~TSccExport() { TSccExport::Close(); }

bool TSccExport::ParseChannelIds(const std::string& text, std::map<int, int>& ids, std::string& why) {
  ids.clear();
  size_t from = 0;
  while (from <= text.size()) {
    size_t comma = text.find(',', from);
    if (comma == std::string::npos) comma = text.size();
    const std::string pair = text.substr(from, comma - from);
    from = comma + 1;
    if (Trim(pair).empty()) continue;
    const size_t colon = pair.find(':');
    int record = 0;
    int id = 0;
    if (colon == std::string::npos || !ParseInt(pair.substr(0, colon), record) || !ParseInt(pair.substr(colon + 1), id)) {
      why = "SccChannelIDs entry \"" + Trim(pair) + "\" is not RecordID:ID";
      return false;
    }
    if (!ids.emplace(record, id).second) {
      why = "SccChannelIDs names channel " + std::to_string(record) + " twice";
      return false;
    }
  }
  return true;
}

std::string TSccExport::MeasurementId(TDateTime start, const std::string& station) {
  const TDateTimeParts p = DecodeDateTime(start);
  return DateText(start) + station + Digits("%02d", p.Hour, 0, 0);
}

bool TSccExport::SelectChannels() {
  const std::string& station = parameters_->SccStation;
  if (station.size() != 2 || !std::isalpha(static_cast<unsigned char>(station[0])) ||
      !std::isalpha(static_cast<unsigned char>(station[1]))) {
    refusal_ = "SCC export needs the two-letter station code in SccStation (found \"" + station + "\")";
    return false;
  }
  points_ = 0;
  std::map<int, int> ids;
  if (!ParseChannelIds(parameters_->SccChannelIDs, ids, refusal_)) return false;
  for (const TChannelConfig* c : LidarChannels()) {
    const auto it = ids.find(c->RecordID);
    if (it != ids.end()) channels_.push_back({c, it->second});
  }
  if (channels_.empty()) {
    refusal_ = "SCC export: no lidar channel has an identifier in SccChannelIDs (\"" + parameters_->SccChannelIDs +
               "\"): nothing to export";
    return false;
  }
  for (const TChannel& c : channels_) points_ = std::max(points_, static_cast<size_t>(std::max(c.Config->DoorsUsed, 0)));
  return true;
}

std::string TSccExport::FileNameFor(TDateTime t) const {
  return ExportFileName(*parameters_, arguments_->LidarSetup->SerialNumber, t, ".nc");
}

int TSccExport::Seconds(TDateTime t) const {
  // A later channel's profile of the first row may have begun a moment
  // before the profile that opened the measurement.
  return std::max(0, static_cast<int>(std::lround((t - measurementStart_) * SecondsPerDay)));
}

void TSccExport::DefineFile(const TManagedProfile& first) {
  measurementStart_ = WholeSecond(first.StartTime);
  const int id = file_.Id();
  int time = 0, chan = 0, points = 0, scales = 0, angles = 0;
  NcCheck(nc_def_dim(id, "time", NC_UNLIMITED, &time), "dimension time");
  NcCheck(nc_def_dim(id, "channels", channels_.size(), &chan), "dimension channels");
  NcCheck(nc_def_dim(id, "points", points_, &points), "dimension points");
  NcCheck(nc_def_dim(id, "nb_of_time_scales", 1, &scales), "dimension nb_of_time_scales");
  NcCheck(nc_def_dim(id, "scan_angles", 1, &angles), "dimension scan_angles");

  int v = 0;
  const int raw[] = {time, chan, points};
  NcCheck(nc_def_var(id, "Raw_Lidar_Data", NC_DOUBLE, 3, raw, &v), "variable Raw_Lidar_Data");
  // A chunk per profile of a channel: each is written once, whole.
  const size_t chunk[] = {1, 1, std::max<size_t>(points_, 1)};
  NcCheck(nc_def_var_chunking(id, v, NC_CHUNKED, chunk), "chunks of Raw_Lidar_Data");
  NcCheck(nc_def_var_deflate(id, v, 1, 1, 1), "compression of Raw_Lidar_Data");
  const int perChannel[] = {time, chan};
  NcCheck(nc_def_var(id, "Laser_Shots", NC_INT, 2, perChannel, &v), "variable Laser_Shots");
  const int perScale[] = {time, scales};
  NcCheck(nc_def_var(id, "Raw_Data_Start_Time", NC_INT, 2, perScale, &v), "variable Raw_Data_Start_Time");
  NcCheck(nc_def_var(id, "Raw_Data_Stop_Time", NC_INT, 2, perScale, &v), "variable Raw_Data_Stop_Time");
  NcCheck(nc_def_var(id, "Laser_Pointing_Angle_of_Profiles", NC_INT, 2, perScale, &v),
          "variable Laser_Pointing_Angle_of_Profiles");
  int channelId = 0, timescale = 0, angle = 0, low = 0, high = 0, molecular = 0;
  NcCheck(nc_def_var(id, "channel_ID", NC_INT, 1, &chan, &channelId), "variable channel_ID");
  NcCheck(nc_def_var(id, "id_timescale", NC_INT, 1, &chan, &timescale), "variable id_timescale");
  NcCheck(nc_def_var(id, "Laser_Pointing_Angle", NC_DOUBLE, 1, &angles, &angle), "variable Laser_Pointing_Angle");
  NcCheck(nc_def_var(id, "Background_Low", NC_DOUBLE, 1, &chan, &low), "variable Background_Low");
  NcCheck(nc_def_var(id, "Background_High", NC_DOUBLE, 1, &chan, &high), "variable Background_High");
  NcCheck(nc_def_var(id, "Molecular_Calc", NC_INT, 0, nullptr, &molecular), "variable Molecular_Calc");
  double pressure = 0, temperature = 0;
  const int vPressure = DefineStationValue(first, "Pressure_at_Lidar_Station", PressureCodes, "hPa", pressure);
  const int vTemperature =
      DefineStationValue(first, "Temperature_at_Lidar_Station", TemperatureCodes, "degC", temperature);

  const TLidarSetup& setup = *arguments_->LidarSetup;
  double latitude = setup.LatitudeBase, longitude = setup.LongitudeBase, altitude = setup.AltitudeBase;
  if (const auto ins = first.GetAirinsData(); ins && ins->IsValid()) {
    latitude = ins->Latitude();
    longitude = ins->Longitude();
    altitude = ins->Altitude();
  }
  file_.PutText(NC_GLOBAL, "Measurement_ID", MeasurementId(measurementStart_, parameters_->SccStation));
  file_.PutText(NC_GLOBAL, "RawData_Start_Date", DateText(measurementStart_));
  file_.PutText(NC_GLOBAL, "RawData_Start_Time_UT", TimeText(measurementStart_));
  file_.PutText(NC_GLOBAL, "RawData_Stop_Time_UT", TimeText(measurementStart_));
  file_.PutDouble(NC_GLOBAL, "Latitude_degrees_north", latitude);
  file_.PutDouble(NC_GLOBAL, "Longitude_degrees_east", longitude);
  file_.PutDouble(NC_GLOBAL, "Altitude_meter_asl", altitude);
  file_.PutText(NC_GLOBAL, "Instrument_Serial_Number", setup.SerialNumber);
  file_.PutText(NC_GLOBAL, "Software_Version", ProgramVersion);
  NcCheck(nc_enddef(id), "layout of " + file_.Name());

  std::vector<int> ids, zeros(channels_.size(), 0);
  std::vector<double> lows, highs;
  for (const TChannel& c : channels_) {
    ids.push_back(c.NetworkId);
    // The window the background processing averages, as distances.
    const int n = std::max(c.Config->DoorsUsed, 1);
    const TCalibration* cal = setup.FindCalibration(c.Config->RecordID);
    const TBrightnessSky defaults(nullptr);
    const double from = cal ? cal->BackgroundStart : defaults.WindowStart;
    const double to = cal ? cal->BackgroundEnd : defaults.WindowEnd;
    const auto gate = [n](double fraction) {
      return std::isfinite(fraction) ? std::clamp(static_cast<int>(std::trunc(n * fraction)), 0, n - 1) : 0;
    };
    lows.push_back(GateDistance(*c.Config, gate(from)));
    highs.push_back(GateDistance(*c.Config, gate(to)));
  }
  NcCheck(nc_put_var_int(id, channelId, ids.data()), "channel_ID");
  NcCheck(nc_put_var_int(id, timescale, zeros.data()), "id_timescale");
  const double pointing = PointingAngle();
  NcCheck(nc_put_var_double(id, angle, &pointing), "Laser_Pointing_Angle");
  NcCheck(nc_put_var_double(id, low, lows.data()), "Background_Low");
  NcCheck(nc_put_var_double(id, high, highs.data()), "Background_High");
  const int none = 0;
  NcCheck(nc_put_var_int(id, molecular, &none), "Molecular_Calc");
  if (vPressure >= 0) NcCheck(nc_put_var_double(id, vPressure, &pressure), "Pressure_at_Lidar_Station");
  if (vTemperature >= 0) NcCheck(nc_put_var_double(id, vTemperature, &temperature), "Temperature_at_Lidar_Station");
}

int TSccExport::DefineStationValue(const TManagedProfile& first, const char* variable, const char* const* codes,
                                   const char* units, double& value) {
  // Defined when the definition has such a field; its value from the
  // record attached to the first profile, when one is.
  bool defined = false;
  value = std::nan("");
  for (const auto& c : arguments_->Definition->Channels) {
    if (!c || c->Type() != TChannelType::Monitor) continue;
    for (const auto& info : c->InfoDescriptions) {
      const std::string code = info ? info->GetOption("CODE") : std::string();
      if (code != codes[0] && code != codes[1]) continue;
      defined = true;
      const auto it = first.MonitorRecords.find(c->RecordID);
      if (it == first.MonitorRecords.end() || !it->second || it->second->Data.empty()) continue;
      TMonitorData view(c.get(), it->second->Data.data(), it->second->Data.size());
      double v = 0;
      if (view.IsValid() && view.FindByCode(code, v) && std::isfinite(v) && std::isnan(value)) value = v;
    }
  }
  if (!defined) return -1;
  int v = 0;
  NcCheck(nc_def_var(file_.Id(), variable, NC_DOUBLE, 0, nullptr, &v), std::string("variable ") + variable);
  file_.PutText(v, "units", units);
  return v;
}

size_t TSccExport::StoredRows(TDateTime& lastStart) {
  // The file must be one of this export's channels, else rows would be mixed.
  if (file_.DimensionLength("channels") != channels_.size() || file_.DimensionLength("points") != points_)
    throw ENetcdfError("other channels or gates than this export's");
  std::vector<int> ids(channels_.size());
  NcCheck(nc_get_var_int(file_.Id(), file_.Variable("channel_ID"), ids.data()), "channel_ID");
  for (size_t i = 0; i < ids.size(); ++i)
    if (ids[i] != channels_[i].NetworkId) throw ENetcdfError("other channel identifiers than this export's");
  const std::string date = file_.TextAttribute(NC_GLOBAL, "RawData_Start_Date");
  const std::string time = file_.TextAttribute(NC_GLOBAL, "RawData_Start_Time_UT");
  int ymd = 0, hms = 0;
  if (!ParseInt(date, ymd) || !ParseInt(time, hms) || date.size() != 8 || time.size() != 6)
    throw ENetcdfError("no measurement start");
  measurementStart_ = EncodeDateTime(ymd / 10000, ymd / 100 % 100, ymd % 100, hms / 10000, hms / 100 % 100, hms % 100);

  const size_t length = file_.DimensionLength("time");
  std::vector<int> starts(length);
  if (length) NcCheck(nc_get_var_int(file_.Id(), file_.Variable("Raw_Data_Start_Time"), starts.data()), "Raw_Data_Start_Time");
  // A row whose start is not written was cut by a crash: it is written anew.
  size_t rows = 0;
  while (rows < length && starts[rows] != NC_FILL_INT) ++rows;
  lastStart = rows ? measurementStart_ + starts[rows - 1] / SecondsPerDay : 0;
  return rows;
}

void TSccExport::WriteRow(const TManagedProfile& profile, size_t channel, const TRow& row) {
  const int id = file_.Id();
  const size_t gates = std::min(points_, std::min(profile.RawCounts.size(), static_cast<size_t>(std::max(profile.DoorCount, 0))));
  const size_t start3[] = {row.Index, channel, 0};
  const size_t count3[] = {1, 1, gates};
  if (gates) NcCheck(nc_put_vara_double(id, file_.Variable("Raw_Lidar_Data"), start3, count3, profile.RawCounts.data()), "Raw_Lidar_Data");
  const size_t start2[] = {row.Index, channel};
  const size_t one2[] = {1, 1};
  const int shots = profile.LaserShots;
  NcCheck(nc_put_vara_int(id, file_.Variable("Laser_Shots"), start2, one2, &shots), "Laser_Shots");
  const size_t rowStart[] = {row.Index, 0};
  const int zero = 0;
  NcCheck(nc_put_vara_int(id, file_.Variable("Laser_Pointing_Angle_of_Profiles"), rowStart, one2, &zero),
          "Laser_Pointing_Angle_of_Profiles");
  const int stop = Seconds(row.Stop);
  NcCheck(nc_put_vara_int(id, file_.Variable("Raw_Data_Stop_Time"), rowStart, one2, &stop), "Raw_Data_Stop_Time");
  const int begin = Seconds(row.Start);
  NcCheck(nc_put_vara_int(id, file_.Variable("Raw_Data_Start_Time"), rowStart, one2, &begin), "Raw_Data_Start_Time");
  pendingStop_ = stop;
  pendingFile_ = file_.Name();
}

void TSccExport::WritePending() {
  const std::optional<int> stop = std::exchange(pendingStop_, std::nullopt);
  if (!stop || !file_.IsOpen() || file_.Name() != pendingFile_) return;
  NcCheck(nc_redef(file_.Id()), "stop time");
  file_.PutText(NC_GLOBAL, "RawData_Stop_Time_UT", TimeText(measurementStart_ + *stop / SecondsPerDay));
  NcCheck(nc_enddef(file_.Id()), "stop time");
}

}  // namespace OrlaqExport
