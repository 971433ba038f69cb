#include "kernel/LidarInfo.h"

#include <cmath>
#include <limits>

namespace OrlaqLidar {

bool TLidarInfo::First() {
  infoIndex_ = 0;
  return valid_;
}

bool TLidarInfo::Next() {
  if (infoIndex_ >= Count() - 1) return false;
  ++infoIndex_;
  return valid_ && infoIndex_ < Count();
}

bool TLidarInfo::FindByName(const std::string& name, double& value) {
  for (int i = 0; i < Count(); ++i) {
    if (channel_->InfoDescriptions[static_cast<size_t>(i)]->Name == name) {
      infoIndex_ = i;
      value = GetValue();
      return true;
    }
  }
  return false;
}

bool TLidarInfo::FindByCode(const std::string& code, double& value) {
  for (int i = 0; i < Count(); ++i) {
    if (channel_->InfoDescriptions[static_cast<size_t>(i)]->GetOption("CODE") == code) {
      infoIndex_ = i;
      value = GetValue();
      return true;
    }
  }
  return false;
}

bool TLidarInfo::SeekInfo(int index) {
  if (index < 0 || index >= Count()) return false;
  infoIndex_ = index;
  return true;
}

const TInfoDescription* TLidarInfo::Current() const {
  if (!channel_ || infoIndex_ < 0 || infoIndex_ >= Count()) return nullptr;
  return channel_->InfoDescriptions[static_cast<size_t>(infoIndex_)].get();
}

std::string TLidarInfo::GetName() const {
  const TInfoDescription* d = Current();
  return d ? d->Name : std::string();
}

int TLidarInfo::Count() const { return channel_ ? static_cast<int>(channel_->InfoDescriptions.size()) : 0; }

std::string TLidarInfo::GetUnit() const {
  const TInfoDescription* d = Current();
  return d ? d->Unit : std::string();
}

std::string TLidarInfo::GetFormat() const {
  const TInfoDescription* d = Current();
  return d ? d->Format : std::string();
}

bool TLidarInfo::IsVisible() const {
  const TInfoDescription* d = Current();
  return d && d->Visible;
}

int TLidarInfo::GetLevel() const {
  const TInfoDescription* d = Current();
  if (!d) return 3;
  return Level(*d, GetValue());
}

double TLidarInfo::Calibrate(const TInfoDescription& description, double raw) {
  double v = raw * description.Mul;
  if (description.Div != 0) v /= description.Div;
  if (description.Percent != 0) v = 100.0 / description.Percent * v;
  if (description.Inverted) v = 1.0 / v;
  return v;
}

int TLidarInfo::Level(const TInfoDescription& description, double value) {
  if (std::isnan(value) || value < description.Min) return 3;
  if (value < description.WarningMin) return 1;
  if (value > description.Max) return 3;
  if (value > description.WarningMax) return 2;
  return 0;
}

}  // namespace OrlaqLidar
