#pragma once
// What a soak run measured, as printed at its end and judged by TSoakCheck.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace OrlaqLidar {

struct TSoakFigures {
  struct TChannel {
    int RecordID = 0;
    std::string Name;
    uint64_t Delivered = 0;        // by the simulator, within the span
    uint64_t Recorded = 0;         // found in the files, within the span
    uint64_t MissingInFaults = 0;  // delivered, not recorded, during a fault window
    uint64_t MissingOutside = 0;   // the same outside every fault window
    uint64_t Extra = 0;            // recorded beyond what was delivered (minute by minute)
  };
  struct TFault {
    std::string Kind;
    int Injected = 0;
    int Recovered = 0;  // back within the recovery margin after the fault ended
  };
  struct TProcess {
    long ResidentKb = 0;
    int Descriptors = 0;
  };

  std::string Span;  // first and last simulated time
  double SimulatedDays = 0;
  std::vector<TChannel> Channels;
  int HoursWithLaser = 0;
  std::vector<std::string> MissingHourFiles;
  int Files = 0;
  std::vector<std::string> InvalidFiles;  // file: reason
  int ExportFiles = 0;                    // automatic export, text files
  uint64_t ExportedProfiles = 0;          // their "DP" lines
  std::vector<std::string> MissingHourExports;
  std::vector<TFault> Faults;
  int UsbReopens = 0;     // opens of a device after its first
  int InsReconnects = 0;  // INS connections accepted after the first
  int WatchdogReports = 0;
  uint64_t LogLines = 0;
  TProcess AtStart;     // before the acquisition starts
  TProcess AtBaseline;  // after the first simulated hour: buffers, files and logs settled
  TProcess AtEnd;       // at the end of the span, still acquiring
  bool ResidentChecked = true;
  std::vector<double> WallSecondsPerDay;
  double WallSeconds = 0;

  void Print(std::ostream& out) const;
};

}  // namespace OrlaqLidar
