#pragma once
// Behaviour switches of the virtual instrument, shared by its devices, its
// atmosphere and its socket servers.
#include <cstdint>
#include <functional>

#include "Common/DateTime.h"

namespace OrlaqLidar {

struct TSimOptions {
  // Site of the synthetic atmosphere: the sun, hence the sky background and
  // the boundary layer, follow it.
  double Latitude = 48.7;  // degrees, north positive
  double Longitude = 2.2;  // degrees, east positive
  bool Clouds = true;
  uint64_t Seed = 1;

  // Real-time pacing. A lidar board integrates the laser pulses of one shot
  // period and answers a data query only once a whole period has been
  // accumulated since its previous shot: 100 ms at 10 kHz, i.e. 1000 pulses
  // and about 10 shots a second per channel. Off: every query is answered at
  // once with one nominal period of pulses (benchmarks, tests).
  bool RateLimit = true;
  int ShotPeriodMs = 100;
  double LaserFrequencyHz = 10000;
  // Answer delay of the text commands and of one housekeeping measure when
  // paced.
  int CommandLatencyMs = 2;
  int MeasureLatencyMs = 5;
  // The laser board switches its laser off when no query reached its group
  // for this long, as a real laser safety watchdog does; 0 = never.
  int WatchdogMs = 0;

  // Probability per answer of a random fault (drop, delay, bad checksum,
  // line noise, "eU"); 0 = none. For soak runs of the program.
  double FaultRate = 0;

  // UTC time of the atmosphere and of the housekeeping drift; the system
  // clock when empty. Must be callable from any thread.
  std::function<TDateTime()> Now;
};

}  // namespace OrlaqLidar
