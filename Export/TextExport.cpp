#include "Export/TextExport.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "Export/ExportPattern.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "kernel/AirinsData.h"
#include "kernel/ErrorLogger.h"
#include "kernel/MonitorData.h"
#include "Platform/Services.h"

namespace OrlaqExport {

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

bool IsLidar(const TChannelConfig& c) { return c.Type() == TChannelType::Lidar; }

const char* const ImuColumns[] = {"TIME", "LAT", "LON", "ALT", "NVEL", "EVEL", "DVEL",
                                  "ROLL", "PITCH", "HEAD", "RX1", "RX2", "RX3"};

}  // namespace

TTextExport::~TTextExport() { TTextExport::Close(); }

bool TTextExport::SetArguments(const TProcessingArgs* arguments) {
  Close();
  return TExportTemplate::SetArguments(arguments);
}

bool TTextExport::SetParameters(const TExportParameters* parameters) {
  TExportTemplate::SetParameters(parameters);
  if (!parameters) return true;
  const auto unknown = UnknownPlaceholders(parameters->FilePattern);
  if (!unknown.empty()) {
    std::string names;
    for (const auto& u : unknown) names += (names.empty() ? "" : ", ") + u;
    Log("Export file pattern <" + parameters->FilePattern + "> has unknown placeholders kept as written: " + names);
  }
  return true;
}

TTextLine TTextExport::Line(const char* tag) const {
  return parameters_ ? TTextLine(tag, parameters_->Delimiter(), parameters_->DateFormat) : TTextLine(tag, ',');
}

bool TTextExport::WriteRawData(int recordId, TDateTime time, const uint8_t* data, size_t length) {
  NewData(time);
  if (!parameters_ || !parameters_->LogMonitoring || !arguments_ || !arguments_->Definition) return true;
  const TLidarConfig& definition = *arguments_->Definition;
  TTextLine line = Line("DM");
  switch (definition.ChannelType(recordId)) {
    case TChannelType::Monitor: {
      const TChannelConfig* channel = definition.FindChannel(recordId);
      TMonitorData view(channel, data, length);
      if (!view.IsValid()) {
        // A malformed record gets no line rather than a line of wrong values.
        Log("Monitoring record of channel " + std::to_string(recordId) + " not exported: " +
            std::to_string(length) + " bytes for " + std::to_string(channel->InfoDescriptions.size()) + " values");
        return true;
      }
      line.Int(recordId).Date(time).Text("0").Text("0");
      view.First();
      for (int i = 0; i < view.Count(); ++i, view.Next()) line.Short(view.GetValue());
      break;
    }
    case TChannelType::Ins: {
      const TAirinsData ins(data, length);
      if (!ins.IsValid()) return true;
      line = Line("DI");
      line.Int(recordId).Date(time).Long(ins.Time());
      line.Short(ins.Latitude()).Short(ins.Longitude()).Short(ins.Altitude());
      line.Short(ins.VelocityNorth()).Short(ins.VelocityEast()).Short(ins.VelocityVertical());
      line.Short(ins.Roll()).Short(ins.Pitch());
      line.Short(ExportHeading(ins.Heading()));
      for (int i = 0; i < 3; ++i) line.Short(ins.FurtherAngle(i));
      break;
    }
    default:
      return true;  // shots and unknown channels are not exported
  }
  return PrepareFile() && WriteLine(line);
}

bool TTextExport::WriteProfile(const TProfile& handle) {
  const TManagedProfile& profile = *handle;
  NewData(profile.StartTime);
  if (!PrepareFile()) return false;
  // The processing the profile went through, else the export's own.
  const TProcessingArgs* args = profile.Args ? profile.Args : arguments_;
  const int processings = args->Setup.Processings;
  const int afterPulse = processings & TProcessingSetup::FlagAfterPulse;
  TTextLine line = Line("DP");
  line.Int(profile.ChannelID).Date(profile.StartTime).Int(profile.ShotRecords);
  line.Short((profile.LastTime - profile.StartTime) * SecondsPerDay);
  line.Text(TProcessingSetup::ToCode(processings & ~TProcessingSetup::FlagAfterPulse));
  line.Int(afterPulse);
  const size_t gates = std::min(profile.Signal.size(), static_cast<size_t>(std::max(profile.DoorCount, 0)));
  const auto finish = [](TTextLine& line, const double* signal, size_t gates, double background) {
    line.Reserve(64 + gates * 16);
    for (size_t i = 0; i < gates; ++i) line.Short(signal[i]);
    line.Short(background).Text("0");
  };
  if (!behind_) {
    finish(line, profile.Signal.data(), gates, profile.Background);
    return WriteLine(line);
  }
  // The gates are made into text on the second thread from a copy.
  behind_->Make([finish, line, signal = std::vector<double>(profile.Signal.begin(), profile.Signal.begin() + gates),
                 background = profile.Background]() mutable {
    finish(line, signal.data(), signal.size(), background);
    return line.Finish();
  });
  TakeLines(false);
  return true;
}

bool TTextExport::WriteEvent(const TLidarEvent& event) {
  NewData(event.Time);
  if (!PrepareFile()) return false;
  TTextLine line = Line("EVENT");
  line.Int(event.SourceID).Date(event.Time).Text(event.Code).Text(event.Comment);
  return WriteLine(line);
}

std::string TTextExport::CurrentFileName() const {
  return ExportFileName(*parameters_, arguments_->LidarSetup->SerialNumber, GetLastTime());
}

bool TTextExport::PrepareFile() {
  if (!parameters_ || !arguments_ || !arguments_->Definition || !arguments_->LidarSetup) {
    Log("Export has no settings or no instrument: nothing written");
    return false;
  }
  const std::string& folder = parameters_->Folder;
  std::error_code ec;
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
      Log("Can't access/create export folder <" + folder + ">");
      return file_.IsOpen();
    }
  }

  const std::string name = CurrentFileName();
  std::string origin;
  // File names differ by case on this system: compared as they are.
  if (name != fileName_ || !file_.IsOpen()) {
    // Lines still queued belong to the file they were made for.
    TakeLines(true);
    file_.Close();
    fileName_.clear();
    if (!fs::exists(name, ec)) {
      const fs::path parent = fs::path(name).parent_path();
      if (!parent.empty() && !fs::is_directory(parent, ec)) {
        fs::create_directories(parent, ec);
        if (!fs::is_directory(parent, ec)) {
          Log("Can't access/create folder for new export file <" + name + ">");
          return false;
        }
      }
      if (!TExportFile::Create(name, origin)) {
        Log("Can't create new export file <" + name + ">" + origin);
        return false;
      }
    }
  }

  if (!file_.IsOpen()) {
    if (!file_.Open(name, origin)) {
      Log("Can't open export file <" + name + ">" + origin);
      return false;
    }
    emptyAtOpening_ = file_.Size() == 0;
    if (!emptyAtOpening_) {
      char last = 0;
      if (!file_.LastByte(last, origin) || (last != '\r' && last != '\n' && !file_.Append(LineEnd, origin)))
        Log("Can't correct export file eof<" + name + ">" + origin);
    }
    definitionsPending_ = true;
    calibrationsPending_ = true;
    fileName_ = name;
  }

  if (definitionsPending_ || calibrationsPending_) {
    TakeLines(true);
    // The block goes in as one write: a failure leaves none of it behind
    // and the next write tries it again.
    std::string block;
    if (definitionsPending_) block += (emptyAtOpening_ ? CommentHeader() : std::string()) + Definitions();
    if (calibrationsPending_) block += Calibrations();
    if (!file_.Append(block, origin)) {
      Log("Can't write export file <" + name + ">" + origin);
      return false;
    }
    if (definitionsPending_) emptyAtOpening_ = false;
    definitionsPending_ = false;
    calibrationsPending_ = false;
  }
  return true;
}

bool TTextExport::WriteLine(const TTextLine& line) {
  if (!behind_ || behind_->Empty()) return Append(line.Finish());
  // Behind the lines still being made.
  behind_->Add(line.Finish());
  TakeLines(false);
  return true;
}

bool TTextExport::Append(std::string_view text) {
  std::string origin;
  if (file_.Append(text, origin)) return true;
  Log("Can't write export file <" + fileName_ + ">" + origin);
  return false;
}

void TTextExport::SetWorkBehind(bool on) {
  TakeLines(true);
  behind_ = on ? std::make_unique<TOrderedWork>() : nullptr;
}

void TTextExport::TakeLines(bool all) {
  // A few lines queued keep the second thread busy; more would only hold
  // memory. They stay queued until the queue is full or the file changes.
  constexpr size_t MaxQueued = 8;
  if (!behind_) return;
  behind_->Take(all ? 0 : MaxQueued, [this](std::string&& text) {
    if (!Append(text)) ++lateFailures_;
  });
}

long long TTextExport::Flush() {
  TakeLines(true);
  const long long failures = lateFailures_;
  lateFailures_ = 0;
  return failures;
}

bool TTextExport::Close() {
  TakeLines(true);
  file_.Close();
  fileName_.clear();
  definitionsPending_ = false;
  calibrationsPending_ = false;
  emptyAtOpening_ = false;
  ResetLastTime();
  return true;
}

std::string TTextExport::CommentHeader() const {
  const TExportParameters& p = *parameters_;
  const auto comment = [](const std::string& text) { return "#" + text + LineEnd; };
  return comment("## Created by Skyvane the: " + FormatDateTime(Services().Clock->NowUTC(), false)) +
         comment(" Instrument Serial Number: " + arguments_->LidarSetup->SerialNumber) +
         comment(" File pattern: " + p.FilePattern) +
         comment(" Slice duration: " + std::to_string(p.MinutesSlice) + " mn") +
         comment(" Profile duration: " + std::to_string(p.Processing.ProfileTime) + " sec") +
         comment(" Columns separator: " + p.ColumnDelimiter) +
         comment(" Date format: " + DateFormatName(p.DateFormat)) + comment("##");
}

std::string TTextExport::Definitions() const {
  const TLidarConfig& d = *arguments_->Definition;
  const TLidarSetup& s = *arguments_->LidarSetup;
  std::string out = Line("FILEV").Text("1.1").Text("Skyvane").Text("2.06").Finish();
  out += Line("INSDEF")
             .Text(d.Code)
             .Text("-")
             .Int(static_cast<long long>(d.Groups.size()))
             .Int(d.LidarChannelCount())
             .Int(d.MonitorChannelCount())
             .Int(d.Airins ? 1 : 0)
             .Finish();
  out += Line("INSCFG")
             .Text("UNK")
             .Short(s.LatitudeBase)
             .Short(s.LongitudeBase)
             .Short(s.AltitudeBase)
             .Short(s.RollBase)
             .Short(s.PitchBase)
             .Finish();
  for (const auto& c : d.Channels) {
    if (!IsLidar(*c)) continue;
    out += Line("DCLID")
               .Int(c->RecordID)
               .Int(c->GroupID)
               .Text(c->Name)
               .Int(c->DoorsUsed)
               .Short(c->WaveLength)
               .Short(c->WaveLength)
               .Short(c->FWHM)
               .Text(std::string(1, c->Polarization))
               .Short(c->DoorsTime * HalfLightSpeed)
               .Short(c->DoorsTime)
               .Short(c->OffsetTime * HalfLightSpeed)
               .Short(c->OffsetTime)
               .Text("1")
               .Finish();
  }
  for (const auto& c : d.Channels) {
    if (c->Type() != TChannelType::Monitor) continue;
    TTextLine line = Line("DCMON");
    line.Int(c->RecordID).Int(c->GroupID).Text(c->Name).Int(static_cast<long long>(c->InfoDescriptions.size()));
    for (const auto& info : c->InfoDescriptions) line.Text(info->GetOption("CODE")).Text(info->Name).Text(info->Unit);
    out += line.Finish();
  }
  if (d.Airins) {
    TTextLine line = Line("DCIMU");
    line.Text("99").Text("AIRINS").Text("13");
    for (const char* column : ImuColumns) line.Text(column);
    out += line.Finish();
  }
  return out;
}

std::string TTextExport::Calibrations() const {
  const TDateTime now = Services().Clock->NowUTC();
  std::string out;
  for (const auto& c : arguments_->Definition->Channels) {
    if (!IsLidar(*c)) continue;
    const TCalibration* cal = arguments_->LidarSetup->FindCalibration(c->RecordID);
    if (!cal) continue;
    const size_t gates = static_cast<size_t>(std::max(c->DoorsUsed, 0));
    if (cal->ApdState >= TCalibration::StateAttempted) {
      TTextLine line = Line("DETPAR");
      line.Int(c->RecordID).Date(now).Int(cal->ApdFlag);
      if (cal->ApdFlag == 0) line.Short(cal->DeadTime).Short(cal->ApdOffset).Short(cal->ApdScale);
      out += line.Finish();
    }
    // A table shorter than the gates (an older embedded calibration) is
    // completed with the values that correct nothing.
    if (cal->OverlapState >= TCalibration::StateAttempted) {
      TTextLine line = Line("OVL");
      line.Int(c->RecordID).Date(now);
      for (size_t i = 0; i < gates; ++i)
        line.Long(i < cal->OverlapInverse.size() ? 1.0 / cal->OverlapInverse[i] : 1.0);
      out += line.Finish();
    }
    if (cal->AfterPulseState >= TCalibration::StateAttempted) {
      TTextLine line = Line("AFPL");
      line.Int(c->RecordID).Date(now);
      for (size_t i = 0; i < gates; ++i) line.Short(i < cal->AfterPulse.size() ? cal->AfterPulse[i] : 0.0);
      out += line.Finish();
    }
  }
  return out;
}

}  // namespace OrlaqExport
