#pragma once
// The built-in simulated instrument of a "SIMULATE" run: the virtual devices
// in a private temporary folder and, when the definition declares an INS,
// its TCP stream on a free loopback port.
#include <filesystem>
#include <memory>
#include <string>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TLidarConfig;
class TSimInstrument;
class TSimInsServer;

class TSimulatedInstrument {
 public:
  TSimulatedInstrument();
  ~TSimulatedInstrument();

  // False with Error() when something could not be started.
  bool Start(const std::string& definitionFile);
  void Stop();

  const std::filesystem::path& DevicesFile() const { return devicesFile_; }
  // 0 without an INS.
  int InsPort() const;
  // Middle of the simulated cloud layer above the lidar (the low cloud, or
  // the high one when the low one is absent), metres; NaN under a clear sky
  // or when not started.
  double CloudHeight(TDateTime t) const;
  const std::string& Error() const { return error_; }

  // The definition shipped with the program, for a first start without one.
  static std::string ShippedDefinition();

 private:
  std::unique_ptr<TLidarConfig> config_;
  std::unique_ptr<TSimInstrument> instrument_;
  std::unique_ptr<TSimInsServer> ins_;
  std::filesystem::path folder_;
  std::filesystem::path devicesFile_;
  std::string error_;
};

}  // namespace OrlaqLidar
