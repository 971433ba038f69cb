#include "Display/AdditionalInfoModel.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "Common/NumberFormat.h"
#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"
#include "kernel/AirinsData.h"
#include "kernel/LidarData.h"
#include "kernel/MonitorData.h"

namespace OrlaqLidar {

namespace {

constexpr const char* Separator = "**";

TAdditionalInfoItem Item(const std::string& source, const std::string& field, std::string text, int level = 0) {
  return TAdditionalInfoItem{source + Separator + field, source + " " + field, std::move(text), level, false};
}

// "%3.1f" whatever the C locale says: the width of 3 is always reached.
std::string OneDecimal(double v) { return FormatFixed(v, 1); }

std::string TimeOfDay(uint32_t seconds, int hundredths) {
  const uint32_t s = seconds % 86400;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%02d", s / 3600, s / 60 % 60, s % 60, hundredths % 100);
  return buf;
}

const char* const NavigationFields[] = {"Time",       "Latitude",   "Longitude", "Altitude", "N.Velocity",
                                        "E.Velocity", "V.Velocity", "Roll",      "Pitch",    "Heading"};

}  // namespace

std::string TAdditionalInfoModel::ValueText(double value, const std::string& format, const std::string& unit) {
  if (std::isnan(value)) return InvalidText;
  const std::string text = FormatPicture(value, format);
  return unit.empty() ? text : text + " " + unit;
}

std::string TAdditionalInfoModel::HeadingText(double heading) {
  // Whole degrees land in 1 to 360 (0 shows as 360); fractions keep their
  // place, so that 0.5 is not pushed past 360.
  double h = std::fmod(heading, 360.0);
  if (h <= 0) h += 360;
  return OneDecimal(h);
}

int TAdditionalInfoModel::WidenedWidth(int width, int textWidth) {
  if (textWidth <= width) return width;
  return (textWidth * 11 + 9) / 10;  // 1.1 times, rounded up, in whole pixels
}

std::optional<TAlarmColour> TAdditionalInfoModel::AlarmColour(int level) {
  if (level == 1 || level == 2) return TAlarmColour{255, 127, 0};
  if (level == 3) return TAlarmColour{255, 0, 0};
  return std::nullopt;
}

std::vector<TAdditionalInfoItem> TAdditionalInfoModel::Items(int recordId, const uint8_t* data, int length) const {
  switch (config_.LidarConfig.ChannelType(recordId)) {
    case TChannelType::Lidar:
    case TChannelType::Monitor: return FieldItems(recordId, data, length);
    case TChannelType::Ins: return NavigationItems(data, length);
    default: return {};
  }
}

std::vector<TAdditionalInfoItem> TAdditionalInfoModel::FieldItems(int recordId, const uint8_t* data,
                                                                  int length) const {
  const TChannelConfig* channel = config_.LidarConfig.FindChannel(recordId);
  if (!channel || !data || length < 0) return {};
  std::unique_ptr<TLidarInfo> view;
  if (channel->Type() == TChannelType::Lidar) {
    // The data manager already logs a record of the wrong length.
    if (TLidarData::ExpectedLength(*channel) != length) return {};
    view = std::make_unique<TLidarData>(channel, data, static_cast<size_t>(length));
  } else {
    view = std::make_unique<TMonitorData>(channel, data, static_cast<size_t>(length));
  }
  std::vector<TAdditionalInfoItem> items;
  if (view->Count() == 0 || !view->First()) return items;
  do {
    if (!view->IsVisible() && !config_.DebugMode) continue;
    const double value = view->GetValue();
    items.push_back(Item(channel->Name, view->GetName(), ValueText(value, view->GetFormat(), view->GetUnit()),
                         view->GetLevel()));
  } while (view->Next());
  return items;
}

std::vector<TAdditionalInfoItem> TAdditionalInfoModel::NavigationItems(const uint8_t* data, int length) {
  std::vector<TAdditionalInfoItem> items;
  const TAirinsData ins(data, length < 0 ? 0 : static_cast<size_t>(length));
  if (!data || !ins.IsValid()) {
    for (const char* field : NavigationFields) {
      items.push_back(Item(NavigationSource, field, EmptyText));
      items.back().Reset = true;
    }
    return items;
  }
  const char* const* f = NavigationFields;
  items.push_back(Item(NavigationSource, *f++, TimeOfDay(ins.Seconds(), ins.Hundredths())));
  items.push_back(Item(NavigationSource, *f++, FormatFixed(ins.Latitude(), 6)));
  items.push_back(Item(NavigationSource, *f++, FormatFixed(ins.Longitude(), 6)));
  items.push_back(Item(NavigationSource, *f++, FormatFixed(ins.Altitude(), 2) + " m"));
  items.push_back(Item(NavigationSource, *f++, FormatPicture(ins.VelocityNorth(), NorthFormat)));
  items.push_back(Item(NavigationSource, *f++, FormatPicture(ins.VelocityEast(), EastFormat)));
  items.push_back(Item(NavigationSource, *f++, FormatPicture(ins.VelocityVertical(), VerticalFormat)));
  items.push_back(Item(NavigationSource, *f++, OneDecimal(ins.Roll())));
  items.push_back(Item(NavigationSource, *f++, OneDecimal(ins.Pitch())));
  items.push_back(Item(NavigationSource, *f++, HeadingText(ins.Heading())));
  return items;
}

}  // namespace OrlaqLidar
