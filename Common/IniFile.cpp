#include "Common/IniFile.h"

#include <algorithm>

#include "Common/FileUtils.h"
#include "Common/StringUtils.h"

namespace OrlaqLidar {

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  if (auto text = ReadTextFile(fileName_)) LoadFromText(*text);
}

void TIniFile::LoadFromText(const std::string& text) {
  sections_.clear();
  Section* current = nullptr;
  size_t pos = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;  // UTF-8 byte order mark
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      if (close == std::string::npos) continue;
      sections_.push_back(Section{Trim(std::string_view(line).substr(1, close - 1)), {}});
      current = &sections_.back();
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string::npos) continue;
    current->entries.push_back(Entry{Trim(std::string_view(line).substr(0, eq)),
                                     Trim(std::string_view(line).substr(eq + 1))});
  }
}

std::string TIniFile::ToText() const {
  std::string out;
  for (const auto& s : sections_) {
    if (!out.empty()) out += '\n';
    out += '[' + s.name + "]\n";
    for (const auto& e : s.entries) out += e.key + '=' + e.value + '\n';
  }
  return out;
}

const TIniFile::Section* TIniFile::Find(const std::string& section) const {
  for (const auto& s : sections_)
    if (SameText(s.name, section)) return &s;
  return nullptr;
}

TIniFile::Section* TIniFile::Find(const std::string& section) {
  return const_cast<Section*>(static_cast<const TIniFile*>(this)->Find(section));
}

std::optional<std::string> TIniFile::Read(const std::string& section, const std::string& key) const {
  if (const Section* s = Find(section))
    for (const auto& e : s->entries)
      if (SameText(e.key, key)) return e.value;
  return std::nullopt;
}

void TIniFile::Write(const std::string& section, const std::string& key, const std::string& value) {
  Section* s = Find(section);
  if (!s) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  for (auto& e : s->entries)
    if (SameText(e.key, key)) {
      if (e.value == value) return;
      e.value = value;
      Changed();
      return;
    }
  s->entries.push_back(Entry{key, value});
  Changed();
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
  Section* s = Find(section);
  if (!s) return;
  const auto before = s->entries.size();
  std::erase_if(s->entries, [&](const Entry& e) { return SameText(e.key, key); });
  if (s->entries.size() != before) Changed();
}

void TIniFile::EraseSection(const std::string& section) {
  const auto before = sections_.size();
  std::erase_if(sections_, [&](const Section& s) { return SameText(s.name, section); });
  if (sections_.size() != before) Changed();
}

std::vector<std::string> TIniFile::ReadSections() const {
  std::vector<std::string> names;
  for (const auto& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> TIniFile::ReadSectionKeys(const std::string& section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section))
    for (const auto& e : s->entries) keys.push_back(e.key);
  return keys;
}

bool TIniFile::SectionExists(const std::string& section) const { return Find(section) != nullptr; }

void TIniFile::Changed() {
  dirty_ = true;
  if (autoSave_) UpdateFile();
}

bool TIniFile::UpdateFile() {
  if (fileName_.empty() || !dirty_) return true;
  if (!WriteFileAtomic(fileName_, ToText())) return false;
  dirty_ = false;
  return true;
}

}  // namespace OrlaqLidar
