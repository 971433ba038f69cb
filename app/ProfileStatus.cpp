#include "app/ProfileStatus.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"

namespace OrlaqLidar {

namespace {

// The peak is looked for where clouds form: the near range is dominated by
// the overlap and the detector, the far range by noise times the range squared.
constexpr double MinPeakRange = 500;     // m
constexpr double MaxPeakRange = 15000;   // m

std::string Scientific(double v) {
  if (!std::isfinite(v)) return FormatFloat(v);
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 3);
  (void)ec;
  return std::string(buf, p);
}

}  // namespace

TProfileStatus::TProfileStatus(TLidarManager& source, TApplicationConfig& config, TCloudHeight cloudHeight)
    : args_(TProcessingSetup(config.ProcessingMask, config.ProfileTime), &config.LidarConfig, &config.Setup),
      manager_(&args_, &source),
      cloudHeight_(std::move(cloudHeight)) {
  manager_.FOnManagedDatas = [this](const TProfile& p) {
    if (!p->Open) Completed(*p);
  };
}

void TProfileStatus::Completed(const TManagedProfile& profile) {
  TLast last;
  last.Start = profile.StartTime;
  constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
  last.Cloud = cloudHeight_ ? cloudHeight_((profile.StartTime + profile.LastTime) / 2) : NaN;
  last.AtCloud = NaN;
  last.PeakRange = NaN;
  double peak = -std::numeric_limits<double>::infinity();
  double nearest = std::numeric_limits<double>::infinity();
  const size_t n = std::min(profile.Signal.size(), profile.Distance.size());
  for (size_t i = 0; i < n; ++i) {
    const double range = profile.Distance[i];
    const double s = profile.Signal[i];
    if (range > MinPeakRange && range < MaxPeakRange && s > peak) {
      peak = s;
      last.PeakRange = range;
    }
    if (!std::isnan(last.Cloud) && std::abs(range - last.Cloud) < nearest) {
      nearest = std::abs(range - last.Cloud);
      last.AtCloud = s;
    }
  }
  last_[profile.ChannelID] = last;
}

std::string TProfileStatus::Line() const {
  if (last_.empty()) return {};
  std::string line = "profiles " + args_.Setup.ToCode() + " " + std::to_string(args_.Setup.ProfileTime) + " s:";
  bool first = true;
  for (const auto& [id, last] : last_) {
    line += first ? " " : " | ";
    first = false;
    line += std::to_string(id);
    line += ' ';
    line += FormatDateTime(last.Start, false).substr(11);
    if (std::isnan(last.Cloud)) {
      line += cloudHeight_ ? " clear sky" : "";
    } else {
      line += " cloud ";
      line += FormatFixed(last.Cloud, 0);
      line += " m signal ";
      line += Scientific(last.AtCloud);
    }
    line += " peak ";
    line += FormatFixed(last.PeakRange, 0);
    line += " m";
  }
  return line;
}

}  // namespace OrlaqLidar
