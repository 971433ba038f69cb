#include "Display/DailyQuicklook.h"

#include <QDir>
#include <algorithm>
#include <cstdio>

#include "Common/PathSafeName.h"
#include "Display/QuicklookImage.h"
#include "kernel/Profile.h"

namespace OrlaqLidar {

TDailyQuicklook::TDailyQuicklook(std::string folder, QSize size) : folder_(std::move(folder)), size_(size) {}

void TDailyQuicklook::OnProfile(const TProfile& profile) {
  if (!profile || profile->Open) return;
  const TManagedProfile& p = *profile;
  const std::string name = p.Channel && !p.Channel->Name.empty() ? p.Channel->Name : "Channel" + std::to_string(p.ChannelID);
  const int n = std::min(p.ActiveDoors, static_cast<int>(p.Signal.size()));
  AddProfile(p.ChannelID, name, p.DoorCount, p.DoorTime, p.OffsetTime, p.StartTime, p.LastTime, p.Signal.data(),
             std::max(n, 0));
}

void TDailyQuicklook::AddProfile(int channelId, const std::string& name, int rows, double gateTime,
                                 double offsetTime, TDateTime start, TDateTime last, const double* values, int count) {
  const int64_t dayStart = TQuicklookGrid::UnixSeconds(start) / 86400 * 86400;
  TDay& day = days_[channelId];
  if (day.Channel && day.DayStart != dayStart) Write(day);
  if (!day.Channel) {
    day.Channel = std::make_unique<TQuicklookChannel>(channelId, name, std::max(rows, 2), gateTime, offsetTime);
    day.Channel->SetAutoScroll(false);
    day.Channel->ShowWindow({dayStart, dayStart + 86400});
    day.DayStart = dayStart;
  }
  // Columns are drawn at Write; the picture is made once per day.
  day.Channel->Slices().SetUpdatesEnabled(false);
  day.Channel->AddProfile(start, last, values, count, false);
}

void TDailyQuicklook::Write(TDay& day) {
  TQuicklookChannel& ch = *day.Channel;
  ch.Slices().SetUpdatesEnabled(true);
  const std::string path = PicturePath(ch.Name(), day.DayStart);
  QDir().mkpath(QString::fromStdString(folder_));
  TQuicklookPaintOptions options;
  if (TQuicklookImage::SavePng(path, size_, {&ch}, palette_, options))
    written_.push_back(path);
  else
    failed_.push_back(path);
  day.Channel.reset();
}

void TDailyQuicklook::Finish() {
  for (auto& [id, day] : days_)
    if (day.Channel) Write(day);
}

std::string TDailyQuicklook::PicturePath(const std::string& channelName, int64_t dayStartUnix) const {
  const TDateTimeParts p = DecodeDateTime(UnixToDateTime(static_cast<double>(dayStartUnix)));
  char date[16];
  std::snprintf(date, sizeof date, "%04d%02d%02d", p.Year, p.Month, p.Day);
  return (QDir(QString::fromStdString(folder_)).filePath(QString::fromStdString("QL_" + std::string(date) + "_" +
                                                                                 PathSafeName(channelName) + ".png")))
      .toStdString();
}

}  // namespace OrlaqLidar
