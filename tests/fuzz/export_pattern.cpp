// libFuzzer target: the export settings and the file name they give. The
// input is INI text (read as batch mode reads it: its first section, else
// the settings section), then, after a zero byte, serial numbers and data
// times to name files for. The settings saved and loaded again are the
// same. Every file name lies in the export folder: the values put into the
// pattern add no folder separator and no "." or ".." component, so only the
// pattern's own dots can climb; a pattern without dots never leaves the
// folder. The last component always has an extension, ".txt" when the
// expanded pattern had none.
// fuzz-sources: Export/ExportParameters.cpp Export/ExportPattern.cpp
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Config/ExportConfig.h"
#include "Export/ExportParameters.h"
#include "Export/ExportPattern.h"
#include "Platform/Services.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::ExportPattern {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '/')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

bool AllDots(const std::string& s) { return !s.empty() && s.find_first_not_of('.') == std::string::npos; }

std::string Slashed(std::string s) {
  std::replace(s.begin(), s.end(), '\\', '/');
  return s;
}

bool SameSettings(const TExportConfig& a, const TExportConfig& b) {
  return a.Folder == b.Folder && a.Type == b.Type && a.FilePattern == b.FilePattern &&
         a.ColumnDelimiter == b.ColumnDelimiter && a.LogMonitoring == b.LogMonitoring &&
         a.MinutesSlice == b.MinutesSlice && a.DateFormat == b.DateFormat;
}

void CheckFileName(const OrlaqExport::TExportParameters& parameters, const std::string& serial, TDateTime t) {
  const std::string name = OrlaqExport::ExportFileName(parameters, serial, t);
  std::string folder = parameters.Folder;
  if (folder.back() != '/') folder += '/';
  FUZZ_CHECK(name.compare(0, folder.size(), folder) == 0);
  const std::string rest = name.substr(folder.size());

  const std::string pattern = Slashed(parameters.FilePattern);
  const std::string expanded =
      Slashed(OrlaqExport::ExpandPattern(parameters.FilePattern, OrlaqExport::PatternValues(parameters, serial, t)));
  const std::vector<std::string> patternParts = Components(pattern), parts = Components(expanded);
  FUZZ_CHECK(parts.size() == patternParts.size());
  for (size_t i = 0; i < parts.size(); ++i)
    if (AllDots(parts[i]))
      FUZZ_CHECK(std::count(parts[i].begin(), parts[i].end(), '.') <=
                 std::count(patternParts[i].begin(), patternParts[i].end(), '.'));
  if (pattern.find('.') == std::string::npos) {
    const std::filesystem::path inside = std::filesystem::path("/export/" + rest).lexically_normal();
    const std::filesystem::path relative = inside.lexically_relative("/export");
    FUZZ_CHECK(!relative.empty() && *relative.begin() != "..");
  }

  const bool hasExtension = parts.back().find('.') != std::string::npos;
  FUZZ_CHECK(rest == (hasExtension ? expanded : expanded + ".txt"));
}

int Run(const uint8_t* data, size_t size) {
  const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t textSize = zero ? static_cast<size_t>(zero - data) : size;
  TIniFile ini;
  ini.LoadFromText(AsString(data, textSize));
  const std::vector<std::string> sections = ini.ReadSections();
  TExportConfig config;
  FUZZ_CHECK(config.Load(ini, sections.empty() ? TExportConfig::Section : sections.front()));
  FUZZ_CHECK(!config.Folder.empty());

  TIniFile saved;
  config.Save(saved, TExportConfig::Section);
  TExportConfig again;
  again.Load(saved, TExportConfig::Section);
  FUZZ_CHECK(SameSettings(config, again));

  for (const std::string& item : OrlaqExport::UnknownPlaceholders(config.FilePattern))
    FUZZ_CHECK(item.size() >= 3 && item.front() == '%' && item.back() == '%' &&
               config.FilePattern.find(item) != std::string::npos);

  // A fixed "now" for the names given before any data time.
  TManualClock clock(EncodeDateTime(2026, 6, 15, 23, 59, 59, 999));
  TScopedServices services(TServices{&clock, nullptr, nullptr, nullptr, nullptr});
  const OrlaqExport::TExportParameters parameters(config);
  TInput in(data + textSize, size - textSize);
  in.Byte();  // the zero byte
  do {
    const uint8_t how = in.Byte();
    const std::string serial = in.Take(how >> 3);
    TDateTime t = 0;
    switch (how & 3) {
      case 1:  // any value a damaged file could hold
        for (int i = 0; i < 8; ++i) {
          uint8_t byte = in.Byte();
          std::memcpy(reinterpret_cast<uint8_t*>(&t) + i, &byte, 1);
        }
        break;
      case 2:  // within two centuries, to the second
        t = 36526 + in.Word() + (in.Word() * 2 + (in.Byte() & 1)) / SecondsPerDay;
        break;
      case 3:
        t = in.Byte() / 256.0;  // no whole-day part: now
        break;
      default:
        break;
    }
    CheckFileName(parameters, serial, t);
  } while (!in.Empty());
  return 0;
}

// Settings as the program saves them and as a batch file gives them, with
// a serial number and times for each.
TSeeds Seeds() {
  const std::string names = std::string("\0", 1) + "\x42" "LS261001" "\x34\x12\x78\x56\x01" "\x01" +
                            std::string("\x00\x00\x00\x00\x00\x70\xe6\x40", 8) + "\x63" "../../etc/xx" "\x03\x80";
  TSeeds seeds;
  seeds.emplace_back("saved", "[Skyvane\\Export]\nFolder=/data/export\nType=Text\nFilePattern=%SN%_%YYYY%%MM%%DD%_%SLICE%\n"
                              "ColumnDelimiter=;\nProfileTime=60\nProcessings=OSBR2\nLogMonitoring=1\nMinutesSlice=10\n"
                              "DateFormat=0\n" + names);
  seeds.emplace_back("batch", "[Export]\r\nFolder=C:\\Lidar\\Out\\\r\nFilePattern=%YYYY%\\%MM%\\%SN%_%hhS%%mnS%.dat\r\n"
                              "MinutesSlice=0\r\nDateFormat=2\r\nColumnDelimiter=\t\r\n" + names);
  seeds.emplace_back("dots", "[E]\nFolder=\nFilePattern=..\\.%SLICE%.\\v1.2/%SN%.%yyyy%%HOUR%%\nMinutesSlice=-7\n" + names);
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::ExportPattern

SKYVANE_FUZZ_TARGET(ExportPattern, Seeds())
