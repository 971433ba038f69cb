#pragma once
// What the housekeeping panel shows for one record: the items a lidar,
// monitoring or navigation record updates, with their value texts and
// alarm levels. No widgets here, so that the rules can be checked alone.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace OrlaqLidar {

class TApplicationConfig;

struct TAdditionalInfoItem {
  std::string Key;   // source name + "**" + field name
  std::string Name;  // caption beside the value
  std::string Text;  // value text
  int Level = 0;     // alarm level 0 to 3
  // Back to the empty text; an item not shown yet is not made for this.
  bool Reset = false;
};

struct TAlarmColour {
  int Red, Green, Blue;
};

class TAdditionalInfoModel {
 public:
  static constexpr const char* EmptyText = "--- ";
  static constexpr const char* InvalidText = "Invalid";
  static constexpr const char* NavigationSource = "Airins";
  // Positive; negative, shown without sign; zero.
  static constexpr const char* NorthFormat = "N* 0.0;S* 0.0;0.0";
  static constexpr const char* EastFormat = "W* 0.0;E* 0.0;0.0";
  static constexpr const char* VerticalFormat = "D* 0.0;U* 0.0;0.0";

  // The settings are read at each record: the instrument definition and
  // DebugMode may change while the panel lives.
  explicit TAdditionalInfoModel(const TApplicationConfig& config) : config_(config) {}

  // The items a record updates, in field order; none for a record of no
  // known channel or of a lidar channel with the wrong length.
  std::vector<TAdditionalInfoItem> Items(int recordId, const uint8_t* data, int length) const;

  // The field's format followed by the unit; "Invalid" for a value that is
  // not a number.
  static std::string ValueText(double value, const std::string& format, const std::string& unit);
  // Brought into the range above 0 up to 360 degrees, one decimal.
  static std::string HeadingText(double heading);
  // Width of a value label that gets a text this wide: 1.1 times the text
  // when it does not fit, else unchanged (a label never shrinks, so that
  // the panel does not jump as values change).
  static int WidenedWidth(int width, int textWidth);
  // Background of an alarm level; none for level 0.
  static std::optional<TAlarmColour> AlarmColour(int level);

 private:
  std::vector<TAdditionalInfoItem> FieldItems(int recordId, const uint8_t* data, int length) const;
  static std::vector<TAdditionalInfoItem> NavigationItems(const uint8_t* data, int length);

  const TApplicationConfig& config_;
};

}  // namespace OrlaqLidar
