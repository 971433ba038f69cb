#pragma once
// A view on a settings store opened below a subkey: section "GUI" of the
// view on "Skyvane" is section "Skyvane\GUI" of the store, the way a
// registry key opened on "SOFTWARE\Orlaq\Skyvane" sees its subkeys.
#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

class TRegistryIniFile : public TCustomIniFile {
 public:
  TRegistryIniFile(TCustomIniFile& base, std::string subKey) : base_(base), subKey_(std::move(subKey)) {}

  std::string FileName() const override { return base_.FileName(); }
  std::optional<std::string> Read(const std::string& section, const std::string& key) const override {
    return base_.Read(Path(section), key);
  }
  void Write(const std::string& section, const std::string& key, const std::string& value) override {
    base_.Write(Path(section), key, value);
  }
  void DeleteKey(const std::string& section, const std::string& key) override {
    base_.DeleteKey(Path(section), key);
  }
  void EraseSection(const std::string& section) override { base_.EraseSection(Path(section)); }
  std::vector<std::string> ReadSections() const override;
  std::vector<std::string> ReadSectionKeys(const std::string& section) const override {
    return base_.ReadSectionKeys(Path(section));
  }
  bool SectionExists(const std::string& section) const override { return base_.SectionExists(Path(section)); }
  bool UpdateFile() override { return base_.UpdateFile(); }

 private:
  std::string Path(const std::string& section) const {
    return subKey_.empty() ? section : subKey_ + "\\" + section;
  }
  TCustomIniFile& base_;
  std::string subKey_;
};

}  // namespace OrlaqLidar
