#pragma once
// INI text held in memory, optionally backed by a file. Comment lines start
// with ";" or "#". Saving is atomic: a crash never leaves a half-written file.
#include <string>
#include <vector>

#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

class TIniFile : public TCustomIniFile {
 public:
  TIniFile() = default;
  // Reads the file when it exists; a missing file is an empty store.
  explicit TIniFile(std::string fileName);

  void LoadFromText(const std::string& text);
  std::string ToText() const;
  // With auto-save, every change is written to the file at once.
  void SetAutoSave(bool on) { autoSave_ = on; }

  std::string FileName() const override { return fileName_; }
  std::optional<std::string> Read(const std::string& section, const std::string& key) const override;
  void Write(const std::string& section, const std::string& key, const std::string& value) override;
  void DeleteKey(const std::string& section, const std::string& key) override;
  void EraseSection(const std::string& section) override;
  std::vector<std::string> ReadSections() const override;
  std::vector<std::string> ReadSectionKeys(const std::string& section) const override;
  bool SectionExists(const std::string& section) const override;
  bool UpdateFile() override;

 private:
  struct Entry {
    std::string key, value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* Find(const std::string& section) const;
  Section* Find(const std::string& section);
  void Changed();

  std::string fileName_;
  std::vector<Section> sections_;
  bool autoSave_ = false;
  bool dirty_ = false;
};

}  // namespace OrlaqLidar
