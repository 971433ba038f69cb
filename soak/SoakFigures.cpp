#include "soak/SoakFigures.h"

#include "Common/StringUtils.h"

namespace OrlaqLidar {

void TSoakFigures::Print(std::ostream& out) const {
  out << "Soak: " << Span << " (" << FormatFixed(SimulatedDays, 2) << " simulated days)\n";
  out << "Records per channel: delivered by the simulator / recorded / missing in fault windows / missing "
         "outside / recorded but never delivered\n";
  uint64_t missing = 0;
  for (const auto& c : Channels) {
    out << "  " << c.RecordID << " " << c.Name << ": " << c.Delivered << " / " << c.Recorded << " / "
        << c.MissingInFaults << " / " << c.MissingOutside << " / " << c.Extra << "\n";
    missing += c.MissingInFaults + c.MissingOutside;
  }
  out << "  missing in all: " << missing << "\n";
  out << "Hourly files: " << Files << " files, " << HoursWithLaser << " hours with the laser on, "
      << MissingHourFiles.size() << " hours without their file, " << InvalidFiles.size()
      << " files not valid to their end mark\n";
  for (const auto& h : MissingHourFiles) out << "  missing: " << h << "\n";
  for (const auto& i : InvalidFiles) out << "  invalid: " << i << "\n";
  out << "Automatic export: " << ExportFiles << " files, " << ExportedProfiles << " profiles, "
      << MissingHourExports.size() << " hours with the laser on not exported\n";
  for (const auto& h : MissingHourExports) out << "  not exported: " << h << "\n";
  out << "Faults: injected / recovered\n";
  for (const auto& f : Faults) out << "  " << f.Kind << ": " << f.Injected << " / " << f.Recovered << "\n";
  out << "Reconnections: " << UsbReopens << " USB device re-opens, " << InsReconnects
      << " INS reconnections; laser watchdog reports " << WatchdogReports << "; message log lines "
      << LogLines << "\n";
  auto process = [&](const char* when, const TProcess& p) {
    out << "  " << when << ": resident " << p.ResidentKb << " kB, open descriptors " << p.Descriptors << "\n";
  };
  out << "Process:\n";
  process("at start", AtStart);
  process("after the first hour", AtBaseline);
  process("at the end", AtEnd);
  if (!ResidentChecked) out << "  (resident memory not judged in this build: the sanitizer keeps freed memory)\n";
  out << "Wall time per simulated day:";
  for (double s : WallSecondsPerDay) out << " " << FormatFixed(s, 1) << " s";
  out << "; " << FormatFixed(WallSeconds, 1) << " s in all\n";
}

}  // namespace OrlaqLidar
