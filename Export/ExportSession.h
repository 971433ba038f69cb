#pragma once
// One export with its own working copy of the export settings: what the
// automatic export, the manual export and the batch export each hold, so
// that edits of the settings apply at the next start only.
#include <memory>
#include <string>

#include "Config/ExportConfig.h"
#include "Export/ExportManager.h"
#include "Export/ExportParameters.h"
#include "kernel/AutoExport.h"

namespace OrlaqExport {

class TExportSession : public OrlaqLidar::TAutoExport {
 public:
  TExportSession(const OrlaqLidar::TExportConfig& config, OrlaqLidar::TApplicationConfig& settings,
                 OrlaqLidar::TLidarManager& source);
  ~TExportSession() override;

  // False when the export type has no format (logged).
  bool Start();
  std::string GetDescription() const override { return manager_->GetDescription(); }
  const TExportParameters& Parameters() const { return parameters_; }
  TExportManager& Manager() { return *manager_; }

  // The automatic export of the application object: the stored export
  // settings, started when the laser goes on.
  static OrlaqLidar::TAutoExportFactory AutoExportFactory();

 private:
  TExportParameters parameters_;
  std::unique_ptr<TExportManager> manager_;
};

}  // namespace OrlaqExport
