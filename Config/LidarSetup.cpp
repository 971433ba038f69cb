#include "Config/LidarSetup.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <regex>

#include "Common/FileUtils.h"
#include "Common/PathSafeName.h"
#include "Common/LogHook.h"
#include "Common/StringUtils.h"
#include "Config/CalibrationError.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

namespace {

struct TBaseValue {
  const char* Key;
  double TLidarSetup::*Member;
};

constexpr TBaseValue BaseValues[] = {
    {"RollBase", &TLidarSetup::RollBase},           {"PitchBase", &TLidarSetup::PitchBase},
    {"AltitudeBase", &TLidarSetup::AltitudeBase},   {"LongitudeBase", &TLidarSetup::LongitudeBase},
    {"LatitudeBase", &TLidarSetup::LatitudeBase},
};

const char* const ExtractError = "Error while extracting calibrations file archive !";

// Windows attribute bits that keep an entry out: hidden, system, temporary,
// offline.
constexpr uint32_t SkippedAttributes = 0x1106;
constexpr uint32_t FolderAttribute = 0x10;

bool IsSymbolicLink(uint8_t opsys, uint32_t attributes) {
  return opsys == ZIP_OPSYS_UNIX && S_ISLNK(static_cast<mode_t>(attributes >> 16));
}

// A name component that could climb out of, or stay on, the folder.
bool HasUnsafeComponent(const std::string& name) {
  std::string part;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      if (part == ".." || part == ".") return true;
      part.clear();
    } else {
      part += name[i];
    }
  }
  return name.find(':') != std::string::npos;
}

// True when target lies strictly below root once both are resolved,
// existing symbolic links included.
bool StaysBelow(const fs::path& root, const fs::path& target) {
  std::error_code ec;
  const fs::path r = fs::weakly_canonical(root, ec);
  if (ec) return false;
  const fs::path t = fs::weakly_canonical(target, ec);
  if (ec) return false;
  const fs::path rel = t.lexically_relative(r);
  if (rel.empty() || rel == ".") return false;
  return *rel.begin() != "..";
}

// Normalises an entry name; sets error when the archive mixes instruments.
std::string NormaliseName(std::string name, std::string& instrumentFolder, std::string& error) {
  for (bool changed = true; changed && !name.empty();) {
    changed = false;
    if (name.front() == '.' || name.front() == '/') {
      name.erase(0, 1);
      changed = true;
    } else if (name.size() >= 2 && name[1] == ':') {
      name.erase(0, 2);
      changed = true;
    } else if (StartsWithText(name, "CAL_")) {
      const size_t slash = name.find('/');
      // A file beside the folders names no instrument.
      if (slash == std::string::npos) return {};
      const std::string top = name.substr(0, slash);
      if (instrumentFolder.empty()) {
        instrumentFolder = top;
      } else if (name.compare(0, instrumentFolder.size() + 1, instrumentFolder + "/") != 0) {
        error = "Archive must containts only one instrument calibration";
        return {};
      }
      name.erase(0, slash + 1);
      changed = true;
    }
  }
  return name;
}

class TZipArchive {
 public:
  explicit TZipArchive(zip_t* za) : za_(za) {}
  ~TZipArchive() {
    if (za_) zip_discard(za_);
  }
  TZipArchive(const TZipArchive&) = delete;
  TZipArchive& operator=(const TZipArchive&) = delete;
  zip_t* get() const { return za_; }

 private:
  zip_t* za_;
};

// Reads one entry whole, refusing more than limit bytes whatever its
// header says: tooLarge is set and error left empty.
std::optional<std::string> ReadEntry(zip_t* za, zip_uint64_t index, unsigned long long limit, std::string& error,
                                     bool& tooLarge) {
  tooLarge = false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(za, index, 0, &st) != 0) {
    error = zip_strerror(za);
    return std::nullopt;
  }
  if ((st.valid & ZIP_STAT_SIZE) && st.size > limit) {
    tooLarge = true;
    return std::nullopt;
  }
  zip_file_t* zf = zip_fopen_index(za, index, 0);
  if (!zf) {
    error = zip_strerror(za);
    return std::nullopt;
  }
  std::string data;
  char buf[65536];
  for (;;) {
    const zip_int64_t n = zip_fread(zf, buf, sizeof buf);
    if (n < 0) {
      error = zip_file_strerror(zf);
      zip_fclose(zf);
      return std::nullopt;
    }
    if (n == 0) break;
    if (data.size() + static_cast<size_t>(n) > limit) {
      tooLarge = true;
      zip_fclose(zf);
      return std::nullopt;
    }
    data.append(buf, static_cast<size_t>(n));
  }
  zip_fclose(zf);
  return data;
}

// Entries kept out for the safety of the configuration folder, by reason.
struct TRefusals {
  int Climbing = 0;
  int Links = 0;
  int TooLarge = 0;

  int Total() const { return Climbing + Links + TooLarge; }
  // "3 entries refused: 2 leaving the calibration folder, 1 symbolic link"
  std::string Text() const {
    std::string reasons;
    auto add = [&reasons](int n, const std::string& what) {
      if (n == 0) return;
      if (!reasons.empty()) reasons += ", ";
      reasons += std::to_string(n) + " " + what;
    };
    add(Climbing, "leaving the calibration folder");
    add(Links, Links == 1 ? "symbolic link" : "symbolic links");
    add(TooLarge, "larger than " + std::to_string(TLidarSetup::MaxEntrySize) + " bytes");
    const int n = Total();
    return std::to_string(n) + (n == 1 ? " entry" : " entries") + " refused: " + reasons;
  }
};

}  // namespace

bool TLidarSetup::Load(const TCustomIniFile& store, const std::string& section) {
  // Older installations stored the base values as integers, newer ones as
  // floating-point numbers: integers first, all five again as floats as
  // soon as one is not an integer.
  double values[std::size(BaseValues)];
  bool asFloat = false;
  for (size_t i = 0; i < std::size(BaseValues); ++i) {
    values[i] = this->*BaseValues[i].Member;
    const auto text = store.Read(section, BaseValues[i].Key);
    if (!text) continue;
    if (const auto n = TryParseInt(*text))
      values[i] = *n;
    else
      asFloat = true;
  }
  for (size_t i = 0; i < std::size(BaseValues); ++i) {
    double& member = this->*BaseValues[i].Member;
    member = asFloat ? store.ReadFloat(section, BaseValues[i].Key, member) : values[i];
  }
  AirinsAddr = store.ReadString(section, "AirinsAddr", AirinsAddr);
  AirinsPort = store.ReadString(section, "AirinsPort", AirinsPort);
  UseSNCalFolder = store.ReadBool(section, "UseSNCalFolder", UseSNCalFolder);
  UseEmbeddedCalib = store.ReadBool(section, "UseEmbeddedCalib", UseEmbeddedCalib);
  return true;
}

bool TLidarSetup::Save(TCustomIniFile& store, const std::string& section) const {
  for (const TBaseValue& v : BaseValues) store.WriteFloat(section, v.Key, this->*v.Member);
  store.WriteString(section, "AirinsAddr", AirinsAddr);
  store.WriteString(section, "AirinsPort", AirinsPort);
  store.WriteBool(section, "UseSNCalFolder", UseSNCalFolder);
  store.WriteBool(section, "UseEmbeddedCalib", UseEmbeddedCalib);
  return true;
}

std::string TLidarSetup::CalibrationFolderFor(const std::string& baseFolder) const {
  if (!UseSNCalFolder) return baseFolder;
  // The serial number comes from the instrument: the same rule as for the
  // recorder's "DIR_" folder keeps it inside the configuration folder.
  return (fs::path(baseFolder) / ("CAL_" + PathSafeName(SerialNumber))).string();
}

int TLidarSetup::BuildCalibrations(const std::string& baseFolder, const TListChannelConfig& channels) {
  Calibrations.clear();
  BaseFolder = baseFolder;
  CalibrationFolder = CalibrationFolderFor(baseFolder);
  for (const auto& channel : channels) {
    if (!channel) continue;
    auto calibration = std::make_unique<TCalibration>(channel->RecordID, channel->Type(),
                                                      static_cast<unsigned>(std::max(channel->DoorsCount, 0)));
    calibration->SetFilenames(CalibrationFolder);
    Calibrations.push_back(std::move(calibration));
  }
  int loaded = 0;
  for (const auto& calibration : Calibrations) {
    try {
      if (calibration->Load()) ++loaded;
    } catch (const std::exception& e) {
      // What was read before the faulty file stays; the rest keeps its defaults.
      LogMessage("Calibration of channel " + std::to_string(calibration->Channel) + " incomplete: " + e.what());
    }
  }
  return loaded;
}

TCalibration* TLidarSetup::FindCalibration(int channel) const {
  for (const auto& calibration : Calibrations)
    if (calibration->Channel == channel) return calibration.get();
  return nullptr;
}

void TLidarSetup::EmbedCalibration(int channel, int kind, const uint8_t* data, size_t size) {
  if (!UseEmbeddedCalib) return;
  TCalibration* calibration = FindCalibration(channel);
  if (!calibration) {
    // Embedded items exist for lidar channels only.
    Calibrations.push_back(std::make_unique<TCalibration>(channel, TChannelType::Lidar, 0));
    calibration = Calibrations.back().get();
  }
  calibration->UpdateCalibration(kind, data, size);
}

std::string TLidarSetup::UnzipCalibrations(const std::string& archive) {
  std::error_code ec;
  if (!fs::exists(archive, ec)) return "File does't exists !";
  int zipError = 0;
  TZipArchive za(zip_open(archive.c_str(), ZIP_RDONLY, &zipError));
  if (!za.get()) return "Can't open file !";

  std::optional<std::regex> folderExpr, fileExpr;
  try {
    folderExpr.emplace(R"(^Channel\d{1,3}/$)");
    fileExpr.emplace(R"(^Channel\d{1,3}/[\w._!,-]{1,32}$)");
  } catch (const std::regex_error&) {
    return "Internal Error";
  }

  const zip_int64_t entries = zip_get_num_entries(za.get(), 0);
  std::string error;
  if (entries < 0 || entries > MaxArchiveEntries)
    error = "Too many entries in archive " + archive + " (" + std::to_string(entries) + ")";
  if (error.empty() && (BaseFolder.empty() || CalibrationFolder.empty())) error = "No calibration folder to extract " + archive + " into";

  std::string instrumentFolder;
  int extracted = 0;
  TRefusals refused;
  for (zip_int64_t i = 0; error.empty() && i < entries; ++i) {
    const zip_uint64_t index = static_cast<zip_uint64_t>(i);
    const char* rawName = zip_get_name(za.get(), index, 0);
    if (!rawName) continue;
    uint8_t opsys = ZIP_OPSYS_DOS;
    uint32_t external = 0;
    zip_file_get_external_attributes(za.get(), index, 0, &opsys, &external);
    const uint32_t attributes = external & 0xFFFF;
    if (attributes & SkippedAttributes) continue;
    if (IsSymbolicLink(opsys, external)) {
      LogMessage(std::string(rawName) + " is a symbolic link, skipped !");
      ++refused.Links;
      continue;
    }

    std::string name = NormaliseName(rawName, instrumentFolder, error);
    if (!error.empty()) break;
    if (name.empty()) continue;
    // A name that climbs is refused as such, whether or not it would
    // otherwise look like a channel file.
    if (HasUnsafeComponent(name)) {
      LogMessage(std::string(rawName) + " would be written outside the calibration folder, skipped !");
      ++refused.Climbing;
      continue;
    }
    const bool isFolder = name.back() == '/' || (attributes & FolderAttribute);
    if (isFolder && name.back() != '/') name += '/';
    if (isFolder && !std::regex_match(name, *folderExpr)) {
      LogMessage(name + " is not a Channel folder !");
      continue;
    }
    if (!isFolder && !std::regex_match(name, *fileExpr)) continue;

    const fs::path root = instrumentFolder.empty() ? fs::path(CalibrationFolder) : fs::path(BaseFolder);
    const fs::path target =
        (instrumentFolder.empty() ? root / name : root / instrumentFolder / name).lexically_normal();
    if (HasUnsafeComponent(instrumentFolder) || instrumentFolder.find('\\') != std::string::npos ||
        !StaysBelow(root, target)) {
      LogMessage(std::string(rawName) + " would be written outside the calibration folder, skipped !");
      ++refused.Climbing;
      continue;
    }

    if (isFolder) {
      fs::create_directories(target, ec);
      if (!fs::is_directory(target, ec)) error = "Error: Can't create folder <" + target.string() + ">";
      continue;
    }

    bool tooLarge = false;
    const auto data = ReadEntry(za.get(), index, MaxEntrySize, error, tooLarge);
    if (tooLarge) {
      LogMessage(std::string(rawName) + " is larger than " + std::to_string(MaxEntrySize) + " bytes, skipped !");
      ++refused.TooLarge;
      continue;
    }
    if (!data) break;
    ++extracted;
    if (!MoveAsideToBackup(target)) {
      error = "Can't move aside " + target.string();
      break;
    }
    // The archive may lack the folder entries: the channel folder is
    // created with the file.
    if (!WriteFileAtomic(target, *data)) error = "Can't write " + target.string();
  }

  if (!error.empty()) {
    LogMessage(error);
    return ExtractError;
  }
  // What was refused is named: an archive refused whole for safety is not
  // "not a calibration archive".
  if (extracted == 0)
    return refused.Total() > 0 ? "No file extracted !\n" + refused.Text()
                               : "No file extracted !\nNot a calibration archive ???";
  std::string result = std::to_string(extracted) + " file(s) extracted";
  if (refused.Total() > 0) result += "\n" + refused.Text();
  return result;
}

}  // namespace OrlaqLidar
