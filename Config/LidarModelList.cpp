#include "Config/LidarModelList.h"

#include <algorithm>
#include <filesystem>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

std::vector<TLidarModel> TLidarModelList::Scan(const std::string& folder) {
  std::vector<TLidarModel> models;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (UpperCase(p.extension().string()) != ".INI" || !it->is_regular_file(ec)) continue;
    TIniFile ini(p.string());
    if (!ini.SectionExists("General")) continue;
    models.push_back({p.filename().string(), ini.ReadString("General", "Name", p.stem().string()),
                      ini.ReadString("General", "Code", "")});
  }
  std::sort(models.begin(), models.end(),
            [](const TLidarModel& a, const TLidarModel& b) { return a.FileName < b.FileName; });
  return models;
}

std::string TLidarModelList::Caption(const TLidarModel& model) {
  return model.Name + " (" + model.FileName + ")";
}

bool TLidarModelList::IsCurrent(const TLidarModel& model, const std::string& folder, const std::string& current) {
  if (current.empty()) return false;
  if (current == model.FileName) return true;
  std::error_code ec;
  return fs::equivalent(fs::path(folder) / current, fs::path(folder) / model.FileName, ec);
}

}  // namespace OrlaqLidar
