#include "Config/Calibration.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <system_error>

#include "Common/FileUtils.h"
#include "Common/LogHook.h"
#include "Common/StringUtils.h"
#include "Config/CalibrationError.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

namespace {

constexpr double DefaultDeadTime = 2.5e-08;
constexpr double DefaultApdOffset = 300.0;
constexpr double DefaultApdScale = 0.55;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

double ParseOr(const std::string& text, double def) {
  const auto v = TryParseDouble(text);
  return v ? *v : def;
}

double LittleEndianDouble(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

void AppendLittleEndian(std::vector<uint8_t>& out, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

std::vector<double> DecodeDoubles(const uint8_t* data, size_t length) {
  std::vector<double> values(data ? length / 8 : 0);
  for (size_t i = 0; i < values.size(); ++i) values[i] = LittleEndianDouble(data + 8 * i);
  return values;
}

std::string HexWord(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

// "# Date: dd/mm/yyyy,hh:nn:ss" in local time.
std::string LocalDateLine() {
  const double unixSeconds = DateTimeToUnix(Services().Clock->NowUTC());
  const std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "# Date: %02d/%02d/%04d,%02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace

TCalibration::TCalibration(int channel, TChannelType type, unsigned doorsCount) : Channel(channel), Type(type) {
  if (IsLidar()) {
    AfterPulseCount = doorsCount;
    AfterPulse.assign(doorsCount, 0.0);
    OverlapCount = doorsCount;
    OverlapInverse.assign(doorsCount, 1.0);
  } else {
    // Only lidar channels carry calibration values.
    DeadTime = ApdOffset = ApdScale = 0;
    BackgroundStart = BackgroundEnd = 0;
  }
}

TCalibration::~TCalibration() {
  CheckIntegrity(this, "TCalibration::~TCalibration()");
  HeadGuard = HeadDeleted;
  TailGuard = TailDeleted;
}

bool TCalibration::CheckIntegrity(const TCalibration* calibration, const char* where) {
  // Runs before every processing of every shot: the text is only built
  // when there is something to report.
  if (calibration && calibration->HeadGuard == HeadAlive && calibration->TailGuard == TailAlive) return true;
  const std::string w = where;
  if (!calibration) {
    LogMessage(w + ":I'm NULL !!!!");
    return false;
  }
  bool ok = true;
  if (calibration->HeadGuard == HeadDeleted) {
    LogMessage(w + ":TCalibration deleted !!! (hdr)");
    ok = false;
  } else if (calibration->HeadGuard != HeadAlive) {
    LogMessage(w + " : TCalibration corrupted or never allocated !!! (hdr)[" + HexWord(calibration->HeadGuard) + "]");
    ok = false;
  }
  if (calibration->TailGuard == TailDeleted) {
    LogMessage(w + ":TCalibration deleted !!! (tail)");
    ok = false;
  } else if (calibration->TailGuard != TailAlive) {
    LogMessage(w + " : TCalibration corrupted or never allocated !!! (tail)[" + HexWord(calibration->TailGuard) +
               "]");
    ok = false;
  }
  return ok;
}

std::string TCalibration::BuildDirName(const std::string& calibrationFolder) const {
  CheckIntegrity(this, "TCalibration::BuildDirName()");
  return (fs::path(calibrationFolder) / ("Channel" + std::to_string(Channel))).string();
}

void TCalibration::SetFilenames(const std::string& calibrationFolder) {
  CheckIntegrity(this, "TCalibration::SetFilenames()");
  if (!IsLidar()) return;
  const fs::path dir = BuildDirName(calibrationFolder);
  ApdFile = (dir / ApdFileName).string();
  AfterPulseFile = (dir / AfterPulseFileName).string();
  OverlapFile = (dir / OverlapFileName).string();
}

void TCalibration::TrimComments(std::vector<std::string>& lines) const {
  CheckIntegrity(this, "TCalibration::TrimComments()");
  static constexpr std::string_view CommentStarts = "#;'\"*/!";
  std::erase_if(lines, [](const std::string& line) {
    const std::string t = Trim(line);
    return t.empty() || CommentStarts.find(t.front()) != std::string_view::npos;
  });
}

namespace {

// The useful lines of a calibration file, or nullopt when it is missing.
std::optional<std::vector<std::string>> ReadUsefulLines(const TCalibration& calibration, const std::string& file,
                                                        size_t required) {
  std::error_code ec;
  if (file.empty() || !fs::is_regular_file(file, ec)) return std::nullopt;
  const auto text = ReadTextFile(file);
  if (!text) throw ECalibrationError("Can't read calibration file " + file, file);
  std::vector<std::string> lines = SplitLines(*text);
  calibration.TrimComments(lines);
  if (lines.size() < required)
    throw ECalibrationError("Not enough values in calibration file " + file + " (" + std::to_string(lines.size()) +
                                "/" + std::to_string(required) + ")",
                            file);
  return lines;
}

}  // namespace

bool TCalibration::Load() {
  CheckIntegrity(this, "TCalibration::Load()");
  if (!IsLidar()) return false;

  ApdState = StateAttempted;
  if (const auto lines = ReadUsefulLines(*this, ApdFile, 4)) {
    const auto flag = TryParseInt((*lines)[0]);
    // The flag only matters as zero or not: keep a large value non-zero.
    ApdFlag = !flag ? 0 : (*flag >= 0 && *flag <= 255) ? static_cast<uint8_t>(*flag) : 1;
    DeadTime = ParseOr((*lines)[1], DefaultDeadTime);
    ApdOffset = ParseOr((*lines)[2], DefaultApdOffset);
    ApdScale = ParseOr((*lines)[3], DefaultApdScale);
    ApdState = StatePresent;
  }

  if (const auto lines = ReadUsefulLines(*this, AfterPulseFile, AfterPulseCount)) {
    AfterPulse.resize(AfterPulseCount);
    for (size_t i = 0; i < AfterPulseCount; ++i) AfterPulse[i] = ParseOr((*lines)[i], 0.0);
    AfterPulseState = StatePresent;
  }

  if (const auto lines = ReadUsefulLines(*this, OverlapFile, OverlapCount)) {
    OverlapInverse.resize(OverlapCount);
    for (size_t i = 0; i < OverlapCount; ++i) {
      const double v = ParseOr((*lines)[i], 1.0);
      OverlapInverse[i] = v == 0 ? std::numeric_limits<double>::infinity() : 1.0 / v;
    }
    OverlapState = StatePresent;
  }
  return true;
}

void TCalibration::Save(const std::vector<std::string>& freeText) {
  static constexpr const char* Where = "TCalibration::Save()";
  CheckIntegrity(this, Where);
  if (!IsLidar() || AfterPulseFile.empty() || AfterPulseState != StatePresent) return;

  const fs::path file = AfterPulseFile;
  const fs::path folder = file.parent_path();
  std::error_code ec;
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (!folder.empty() && !fs::is_directory(folder, ec)) {
    LogMessage("Error: Can't create folder <" + folder.string() + ">");
    return;
  }

  std::string text = "# File generated by Skyvane\n# AfterPulse\n" + LocalDateLine() + "\n";
  for (const std::string& line : freeText) text += line + "\n";
  for (size_t i = 0; i < AfterPulseCount && i < AfterPulse.size(); ++i) text += FormatFloat(AfterPulse[i]) + "\n";
  text += "# End\n";

  errno = 0;
  if (!MoveAsideToBackup(file) || !WriteFileAtomic(file, text)) {
    const int err = errno;
    if (err != 0)
      LogMessage("Error saving APD file on " + file.string() + " : " + std::generic_category().message(err) + " (" +
                 Where + ")");
    else
      LogMessage("Error saving APD file on " + file.string() + " (" + Where + ")");
  }
}

void TCalibration::UpdateCalibration(int kind, const uint8_t* data, size_t length) {
  CheckIntegrity(this, "TCalibration::UpdateCalibration()");
  if (!IsLidar()) return;
  switch (kind) {
    case KindAfterPulse:
      AfterPulse = DecodeDoubles(data, length);
      AfterPulseCount = static_cast<unsigned>(AfterPulse.size());
      AfterPulseState = StatePresent;
      break;
    case KindOverlap:
      // Already reciprocals, as held in memory when the file was written.
      OverlapInverse = DecodeDoubles(data, length);
      OverlapCount = static_cast<unsigned>(OverlapInverse.size());
      OverlapState = StatePresent;
      break;
    case KindDetector:
      if (!data || length != DetectorBlockSize) return;
      ApdFlag = data[0];
      DeadTime = LittleEndianDouble(data + 1);
      ApdOffset = LittleEndianDouble(data + 9);
      ApdScale = LittleEndianDouble(data + 17);
      ApdState = StatePresent;
      break;
    default:
      break;
  }
}

std::vector<uint8_t> TCalibration::BuildEmbeddedBlock(int kind) const {
  std::vector<uint8_t> out;
  switch (kind) {
    case KindAfterPulse:
      out.reserve(AfterPulse.size() * 8);
      for (size_t i = 0; i < AfterPulseCount && i < AfterPulse.size(); ++i) AppendLittleEndian(out, AfterPulse[i]);
      break;
    case KindOverlap:
      out.reserve(OverlapInverse.size() * 8);
      for (size_t i = 0; i < OverlapCount && i < OverlapInverse.size(); ++i)
        AppendLittleEndian(out, OverlapInverse[i]);
      break;
    case KindDetector:
      out.push_back(ApdFlag);
      AppendLittleEndian(out, DeadTime);
      AppendLittleEndian(out, ApdOffset);
      AppendLittleEndian(out, ApdScale);
      break;
    default:
      break;
  }
  return out;
}

}  // namespace OrlaqLidar
