#pragma once
// The file-name pattern of the export files: "%NAME%" placeholders replaced
// by values computed from one data time.
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Export/ExportParameters.h"

namespace OrlaqExport {

// "name=value" entries, in the order they are applied.
using TPatternValues = std::vector<std::string>;

// Values for time t; a t without a whole-day part (no data yet) means the
// current UTC time. The serial number is made safe for a path first.
TPatternValues PatternValues(const TExportParameters& parameters, const std::string& serialNumber,
                             OrlaqLidar::TDateTime t);

// Every name of the list replaced by its value, in list order, comparing
// case exactly; a value put in is not searched again for the same name.
// Anything else, unknown placeholders included, stays as written.
std::string ExpandPattern(const std::string& pattern, const TPatternValues& values);

// The "%NAME%" items of a pattern that no value replaces (as "%NAME%").
std::vector<std::string> UnknownPlaceholders(const std::string& pattern);

// Folder, a separator, the expanded pattern, and the extension when its
// last component has none. "\" in the pattern separates folders too.
std::string ExportFileName(const TExportParameters& parameters, const std::string& serialNumber,
                           OrlaqLidar::TDateTime t, const char* extension = ".txt");

}  // namespace OrlaqExport
