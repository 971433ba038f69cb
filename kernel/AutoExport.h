#pragma once
// What the application object holds while automatic export runs: the
// working copy of the export settings and the export manager behind it.
// The export formats live above the kernel, so the program hands the
// application a factory; destroying the object stops the export.
#include <functional>
#include <memory>
#include <string>

namespace OrlaqLidar {

class TApplicationConfig;
class TLidarManager;

class TAutoExport {
 public:
  virtual ~TAutoExport() = default;
  // The open export file, or "no export".
  virtual std::string GetDescription() const = 0;
};

// Null when the export cannot start (the reason is logged).
using TAutoExportFactory =
    std::function<std::unique_ptr<TAutoExport>(TApplicationConfig& settings, TLidarManager& source)>;

}  // namespace OrlaqLidar
