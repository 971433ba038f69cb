#include "kernel/AirinsData.h"

#include "kernel/DataNotValid.h"

namespace OrlaqLidar {

namespace {
constexpr double CoordinateFactor = -180.0 / 2147483648.0;  // raw * -180 / 2^31
constexpr double AngleFactor = 180.0 / 32768.0;
}  // namespace

TAirinsData::TAirinsData(const uint8_t* data, size_t length) : valid_(data && length == RecordSize), data_(data) {}

void TAirinsData::Check() const {
  if (!valid_) throw EDataNotValid("kernel\\LidarData", __LINE__);
}

uint32_t TAirinsData::U32(size_t offset) const {
  Check();
  const uint8_t* p = data_ + offset;
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint16_t TAirinsData::U16(size_t offset) const {
  Check();
  return static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]);
}

uint32_t TAirinsData::Seconds() const { return U32(0); }

int TAirinsData::Hundredths() const {
  Check();
  return data_[4];
}

double TAirinsData::Time() const { return Seconds() + Hundredths() * 0.01; }

double TAirinsData::Latitude() const { return static_cast<int32_t>(U32(5)) * CoordinateFactor; }
double TAirinsData::Longitude() const { return static_cast<int32_t>(U32(9)) * CoordinateFactor; }
double TAirinsData::Altitude() const { return static_cast<int32_t>(U32(13)) * 0.01; }
double TAirinsData::VelocityNorth() const { return static_cast<int16_t>(U16(17)) * 0.01; }
double TAirinsData::VelocityEast() const { return static_cast<int16_t>(U16(19)) * 0.01; }
double TAirinsData::VelocityVertical() const { return static_cast<int16_t>(U16(21)) * 0.01; }
double TAirinsData::Roll() const { return static_cast<int16_t>(U16(23)) * AngleFactor; }
double TAirinsData::Pitch() const { return static_cast<int16_t>(U16(25)) * AngleFactor; }
double TAirinsData::Heading() const { return U16(27) * AngleFactor; }

double TAirinsData::FurtherAngle(int index) const {
  if (index < 0 || index > 2) throw EDataNotValid("kernel\\LidarData", __LINE__);
  return static_cast<int16_t>(U16(29 + 2 * static_cast<size_t>(index))) * AngleFactor;
}

}  // namespace OrlaqLidar
