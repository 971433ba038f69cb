#pragma once
// Daily quicklook pictures without a window: takes the completed profiles
// of a data manager and writes, per lidar channel and UTC day, a PNG of
// the day's time-height picture with its axes, colour bar, channel title
// and date. A picture is written when its channel moves to the next day
// and at Finish.
#include <QSize>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Display/PaletteContrast.h"
#include "Display/QuicklookChannel.h"

namespace OrlaqLidar {

class TProfile;

class TDailyQuicklook {
 public:
  explicit TDailyQuicklook(std::string folder, QSize size = QSize(1440, 600));

  void SetPalette(const TPaletteContrast& palette) { palette_ = palette; }
  // The data manager's profile handler: completed profiles only.
  void OnProfile(const TProfile& profile);
  void AddProfile(int channelId, const std::string& name, int rows, double gateTime, double offsetTime,
                  TDateTime start, TDateTime last, const double* values, int count);
  // Writes the pictures still open.
  void Finish();

  // "<folder>/QL_<yyyymmdd>_<channel>.png".
  std::string PicturePath(const std::string& channelName, int64_t dayStartUnix) const;
  const std::vector<std::string>& Written() const { return written_; }
  const std::vector<std::string>& Failed() const { return failed_; }

 private:
  struct TDay {
    std::unique_ptr<TQuicklookChannel> Channel;
    int64_t DayStart = 0;  // Unix seconds
  };
  void Write(TDay& day);

  std::string folder_;
  QSize size_;
  TPaletteContrast palette_;
  std::map<int, TDay> days_;
  std::vector<std::string> written_, failed_;
};

}  // namespace OrlaqLidar
