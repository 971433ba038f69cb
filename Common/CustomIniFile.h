#pragma once
// An INI-like store: named sections of key/value texts. Section and key
// names match without regard to case. Both the instrument definition files
// and the settings store are read through this interface.
#include <optional>
#include <string>
#include <vector>

namespace OrlaqLidar {

class TCustomIniFile {
 public:
  virtual ~TCustomIniFile() = default;

  virtual std::string FileName() const = 0;
  virtual std::optional<std::string> Read(const std::string& section, const std::string& key) const = 0;
  virtual void Write(const std::string& section, const std::string& key, const std::string& value) = 0;
  virtual void DeleteKey(const std::string& section, const std::string& key) = 0;
  virtual void EraseSection(const std::string& section) = 0;
  // Section names in file order, duplicates included.
  virtual std::vector<std::string> ReadSections() const = 0;
  virtual std::vector<std::string> ReadSectionKeys(const std::string& section) const = 0;
  virtual bool SectionExists(const std::string& section) const = 0;
  // Pushes pending writes to the backing file, if any.
  virtual bool UpdateFile() { return true; }

  bool ValueExists(const std::string& section, const std::string& key) const {
    return Read(section, key).has_value();
  }

  // Typed reads: an absent or malformed value gives the default.
  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  double ReadFloat(const std::string& section, const std::string& key, double def) const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Write(section, key, value);
  }
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  void WriteFloat(const std::string& section, const std::string& key, double value);
};

}  // namespace OrlaqLidar
