#include "Common/CustomIniFile.h"

#include "Common/StringUtils.h"

namespace OrlaqLidar {

std::string TCustomIniFile::ReadString(const std::string& section, const std::string& key,
                                       const std::string& def) const {
  auto v = Read(section, key);
  return v ? *v : def;
}

int TCustomIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  auto v = Read(section, key);
  if (!v) return def;
  auto n = TryParseInt(*v);
  return n ? *n : def;
}

bool TCustomIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  auto v = Read(section, key);
  if (!v) return def;
  const std::string t = Trim(*v);
  if (SameText(t, "true") || SameText(t, "yes") || SameText(t, "on")) return true;
  if (SameText(t, "false") || SameText(t, "no") || SameText(t, "off")) return false;
  auto n = TryParseInt(t);
  return n ? *n != 0 : def;
}

double TCustomIniFile::ReadFloat(const std::string& section, const std::string& key, double def) const {
  auto v = Read(section, key);
  if (!v) return def;
  auto d = TryParseDouble(*v);
  return d ? *d : def;
}

void TCustomIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  Write(section, key, std::to_string(value));
}

void TCustomIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  Write(section, key, value ? "true" : "false");
}

void TCustomIniFile::WriteFloat(const std::string& section, const std::string& key, double value) {
  Write(section, key, FormatFloat(value));
}

}  // namespace OrlaqLidar
