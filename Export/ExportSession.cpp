#include "Export/ExportSession.h"

#include "Config/ApplicationConfig.h"

namespace OrlaqExport {

using namespace OrlaqLidar;

TExportSession::TExportSession(const TExportConfig& config, TApplicationConfig& settings, TLidarManager& source)
    : parameters_(config), manager_(std::make_unique<TExportManager>(settings, &source)) {}

// The manager goes first: it refers to the parameters.
TExportSession::~TExportSession() { manager_.reset(); }

bool TExportSession::Start() { return manager_->Start(&parameters_); }

TAutoExportFactory TExportSession::AutoExportFactory() {
  return [](TApplicationConfig& settings, TLidarManager& source) -> std::unique_ptr<TAutoExport> {
    auto session = std::make_unique<TExportSession>(settings.Export, settings, source);
    if (!session->Start()) return nullptr;
    return session;
  };
}

}  // namespace OrlaqExport
