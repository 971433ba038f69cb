#include "Export/ExportPattern.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "Common/PathSafeName.h"
#include "Platform/Services.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

namespace {

const char* const Names[] = {"%YYYY%", "%YY%", "%MM%", "%DD%", "%hh%", "%mn%", "%hhS%", "%mnS%", "%SN%", "%SLICE%"};

std::string Entry(const char* format, int value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, value);
  return buf;
}

}  // namespace

TPatternValues PatternValues(const TExportParameters& parameters, const std::string& serialNumber, TDateTime t) {
  if (std::trunc(t) == 0) t = Services().Clock->NowUTC();
  const TDateTimeParts p = DecodeDateTime(t);
  int minutes = p.Hour * 60 + p.Minute;
  const bool sliced = parameters.MinutesSlice > 0;
  unsigned slice = 0;
  if (sliced) {
    slice = static_cast<unsigned>(minutes / parameters.MinutesSlice);
    minutes = static_cast<int>(slice) * parameters.MinutesSlice;
  }
  TPatternValues list;
  list.push_back(Entry("%%YYYY%%=%04d", p.Year));
  list.push_back(Entry("%%YY%%=%02d", p.Year % 100));
  list.push_back(Entry("%%MM%%=%02d", p.Month));
  list.push_back(Entry("%%DD%%=%02d", p.Day));
  list.push_back(Entry("%%hh%%=%02d", p.Hour));
  list.push_back(Entry("%%mn%%=%02d", p.Minute));
  list.push_back(Entry("%%hhS%%=%02d", minutes / 60));
  list.push_back(Entry("%%mnS%%=%02d", minutes % 60));
  list.push_back("%SN%=" + PathSafeName(serialNumber));
  if (sliced) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%%SLICE%%=%04u", slice);
    list.push_back(buf);
  } else {
    list.push_back("%SLICE%=");
  }
  return list;
}

std::string ExpandPattern(const std::string& pattern, const TPatternValues& values) {
  std::string text = pattern;
  for (const std::string& entry : values) {
    const size_t eq = entry.find('=');
    if (eq == 0 || eq == std::string::npos) continue;
    const std::string name = entry.substr(0, eq);
    const std::string value = entry.substr(eq + 1);
    // Searching on after the inserted value keeps it from being replaced again.
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
      text.replace(at, name.size(), value);
    }
  }
  return text;
}

std::vector<std::string> UnknownPlaceholders(const std::string& pattern) {
  std::vector<std::string> unknown;
  size_t i = 0;
  while (i < pattern.size()) {
    if (pattern[i] != '%') {
      ++i;
      continue;
    }
    bool known = false;
    for (const char* name : Names) {
      if (pattern.compare(i, std::char_traits<char>::length(name), name) == 0) {
        i += std::char_traits<char>::length(name);
        known = true;
        break;
      }
    }
    if (known) continue;
    // A "%" that does not open a "%WORD%" item is plain text.
    size_t end = i + 1;
    while (end < pattern.size() && std::isalnum(static_cast<unsigned char>(pattern[end]))) ++end;
    if (end > i + 1 && end < pattern.size() && pattern[end] == '%') {
      unknown.push_back(pattern.substr(i, end - i + 1));
      i = end + 1;
    } else {
      ++i;
    }
  }
  return unknown;
}

std::string ExportFileName(const TExportParameters& parameters, const std::string& serialNumber, TDateTime t,
                           const char* extension) {
  std::string name = ExpandPattern(parameters.FilePattern, PatternValues(parameters, serialNumber, t));
  for (char& c : name)
    if (c == '\\') c = '/';
  const size_t slash = name.rfind('/');
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) name += extension;
  std::string folder = parameters.Folder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + name;
}

}  // namespace OrlaqExport
