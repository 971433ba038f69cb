#include "Common/RegistryIniFile.h"

#include "Common/StringUtils.h"

namespace OrlaqLidar {

std::vector<std::string> TRegistryIniFile::ReadSections() const {
  std::vector<std::string> names;
  const std::string prefix = subKey_.empty() ? std::string() : subKey_ + "\\";
  for (const auto& s : base_.ReadSections())
    if (StartsWithText(s, prefix)) names.push_back(s.substr(prefix.size()));
  return names;
}

}  // namespace OrlaqLidar
