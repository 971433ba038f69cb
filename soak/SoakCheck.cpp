#include "soak/SoakCheck.h"

namespace OrlaqLidar {

std::vector<std::string> TSoakCheck::Failures(const TSoakFigures& f, const TSoakLimits& limits) {
  std::vector<std::string> out;
  for (const auto& c : f.Channels) {
    if (c.MissingOutside > 0)
      out.push_back("channel " + std::to_string(c.RecordID) + ": " + std::to_string(c.MissingOutside) +
                    " records lost outside the fault windows");
    if (c.Extra > 0)
      out.push_back("channel " + std::to_string(c.RecordID) + ": " + std::to_string(c.Extra) +
                    " records recorded that were never delivered");
    if (c.Delivered == 0) out.push_back("channel " + std::to_string(c.RecordID) + ": nothing delivered");
  }
  for (const auto& h : f.MissingHourFiles) out.push_back("no file for an hour with the laser on: " + h);
  for (const auto& i : f.InvalidFiles) out.push_back("invalid file " + i);
  for (const auto& h : f.MissingHourExports) out.push_back("no export for an hour with the laser on: " + h);
  if (f.HoursWithLaser > 0 && f.ExportedProfiles == 0) out.push_back("no profile exported");
  if (f.HoursWithLaser == 0) out.push_back("the laser was never on");
  for (const auto& fault : f.Faults)
    if (fault.Recovered < fault.Injected)
      out.push_back(fault.Kind + ": " + std::to_string(fault.Injected - fault.Recovered) + " of " +
                    std::to_string(fault.Injected) + " not recovered from");
  if (f.AtEnd.Descriptors - f.AtBaseline.Descriptors > limits.DescriptorGrowth)
    out.push_back("open descriptors grew from " + std::to_string(f.AtBaseline.Descriptors) + " to " +
                  std::to_string(f.AtEnd.Descriptors));
  if (f.ResidentChecked && f.AtEnd.ResidentKb - f.AtBaseline.ResidentKb > limits.ResidentGrowthKb)
    out.push_back("resident memory grew from " + std::to_string(f.AtBaseline.ResidentKb) + " kB to " +
                  std::to_string(f.AtEnd.ResidentKb) + " kB");
  return out;
}

}  // namespace OrlaqLidar
