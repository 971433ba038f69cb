#pragma once
// A completed profile as the export writes it: the channel, its time span,
// how many shot records it holds, the processing it went through and the
// processed signal of its gates. The signal is lent for one call.
#include <algorithm>
#include <span>

#include "Common/DateTime.h"
#include "kernel/ManagedProfile.h"

namespace OrlaqExport {

struct TExportProfile {
  // The processed signal of the used gates of a data manager's profile.
  static TExportProfile From(const OrlaqLidar::TManagedProfile& profile, int processings) {
    const size_t gates = std::min(profile.Signal.size(), static_cast<size_t>(std::max(profile.DoorCount, 0)));
    return TExportProfile{profile.ChannelID,  profile.StartTime, profile.LastTime,       profile.ShotRecords,
                          processings,        {profile.Signal.data(), gates}, profile.Background};
  }

  int ChannelID = 0;
  OrlaqLidar::TDateTime StartTime = 0;
  OrlaqLidar::TDateTime LastTime = 0;
  int ShotRecords = 0;
  int Processings = 0;
  std::span<const double> Signal;
  double Background = 0;
};

}  // namespace OrlaqExport
