#include "app/SimulatedInstrument.h"

#include <stdlib.h>

#include <limits>

#include "Common/IniFile.h"
#include "Config/LidarConfig.h"
#include "Platform/Services.h"
#include "Simulator/SimInsServer.h"
#include "Simulator/SimInstrument.h"

namespace OrlaqLidar {

namespace fs = std::filesystem;

TSimulatedInstrument::TSimulatedInstrument() = default;

TSimulatedInstrument::~TSimulatedInstrument() { Stop(); }

std::string TSimulatedInstrument::ShippedDefinition() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  // build/bin/skyvane -> <source>/share/instruments; an installed copy beside share/.
  for (const fs::path& folder : {exe.parent_path() / "../../share/instruments", exe.parent_path() / "../share/skyvane/instruments",
                                 exe.parent_path() / "../../../share/instruments"}) {
    if (!fs::is_directory(folder, ec)) continue;
    for (const auto& entry : fs::directory_iterator(folder, ec))
      if (entry.path().extension() == ".ini") return fs::weakly_canonical(entry.path(), ec).string();
  }
  return {};
}

bool TSimulatedInstrument::Start(const std::string& definitionFile) {
  config_ = std::make_unique<TLidarConfig>();
  TIniFile ini(definitionFile);
  if (!config_->Load(ini) || config_->Channels.empty()) {
    error_ = "the instrument definition " + definitionFile + " cannot be simulated";
    return false;
  }
  std::string pattern = (fs::temp_directory_path() / "skyvane-sim-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error_ = "cannot create a folder for the simulated devices";
    return false;
  }
  folder_ = pattern;
  instrument_ = std::make_unique<TSimInstrument>(*config_);
  if (!instrument_->Start(folder_)) {
    error_ = instrument_->LastError();
    return false;
  }
  devicesFile_ = instrument_->DevicesFile();
  if (config_->Airins) {
    TSimInsServer::TSettings settings;
    settings.Port = 0;
    ins_ = std::make_unique<TSimInsServer>(settings);
    if (!ins_->Start()) {
      error_ = "simulated INS: " + ins_->LastError();
      return false;
    }
  }
  return true;
}

int TSimulatedInstrument::InsPort() const { return ins_ ? ins_->Port() : 0; }

double TSimulatedInstrument::CloudHeight(TDateTime t) const {
  if (!instrument_) return std::numeric_limits<double>::quiet_NaN();
  for (const auto& cloud : {instrument_->Atmosphere().LowCloud(t), instrument_->Atmosphere().Cirrus(t)})
    if (cloud.Present()) return (cloud.Base + cloud.Top) / 2;
  return std::numeric_limits<double>::quiet_NaN();
}

void TSimulatedInstrument::Stop() {
  if (ins_) ins_->Stop();
  if (instrument_) instrument_->Stop();
  ins_.reset();
  instrument_.reset();
  if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    folder_.clear();
  }
}

}  // namespace OrlaqLidar
