#pragma once
// Common base of the record views: walks the channel's information
// descriptions and turns each information field into a calibrated value
// with an alarm level. A view never owns the block it lies over; it is
// valid only while that block lives.
#include <string>

#include "Config/ChannelConfig.h"
#include "Config/InfoDescription.h"

namespace OrlaqLidar {

class TLidarInfo {
 public:
  explicit TLidarInfo(const TChannelConfig* channel) : channel_(channel) {}
  virtual ~TLidarInfo() = default;
  TLidarInfo(const TLidarInfo&) = default;
  TLidarInfo& operator=(const TLidarInfo&) = default;

  virtual bool First();
  virtual bool Next();
  // Moves the cursor to the first description named name (or whose option
  // "CODE" is code) and stores its value; false when there is none.
  virtual bool FindByName(const std::string& name, double& value);
  virtual bool FindByCode(const std::string& code, double& value);
  virtual std::string GetName() const;
  virtual int Count() const;
  // Calibrated value of the current field; NaN when the field cannot be
  // read. Throws EDataNotValid on an invalid view.
  virtual double GetValue() const = 0;
  virtual std::string GetUnit() const;
  virtual std::string GetFormat() const;
  virtual bool IsVisible() const;
  // 0 normal, 1 below the warning minimum, 2 above the warning maximum,
  // 3 NaN or outside the limits.
  virtual int GetLevel() const;

  // Moves the cursor to a description by index; false when out of range.
  bool SeekInfo(int index);

  bool IsValid() const { return valid_; }
  int InfoIndex() const { return infoIndex_; }
  const TChannelConfig* Channel() const { return channel_; }

  // Mul, Div, Percent and Inverted of a description applied to a raw value.
  static double Calibrate(const TInfoDescription& description, double raw);
  static int Level(const TInfoDescription& description, double value);

 protected:
  // The description under the cursor, or null when the cursor is outside.
  const TInfoDescription* Current() const;

  bool valid_ = false;
  int infoIndex_ = 0;
  const TChannelConfig* channel_ = nullptr;
};

}  // namespace OrlaqLidar
