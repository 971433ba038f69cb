#pragma once
// View over one 35-byte INS record, big-endian fields. Every accessor
// throws EDataNotValid on an invalid view.
#include <cstddef>
#include <cstdint>

namespace OrlaqLidar {

class TAirinsData {
 public:
  static constexpr size_t RecordSize = 35;

  TAirinsData(const uint8_t* data, size_t length);

  bool IsValid() const { return valid_; }

  uint32_t Seconds() const;
  int Hundredths() const;
  // Seconds + hundredths * 0.01.
  double Time() const;
  double Latitude() const;   // degrees
  double Longitude() const;  // degrees
  double Altitude() const;   // metres
  double VelocityNorth() const;
  double VelocityEast() const;
  double VelocityVertical() const;
  double Roll() const;     // degrees
  double Pitch() const;    // degrees
  double Heading() const;  // degrees, 0 to 360
  // The three angular values after the heading (index 0 to 2), degrees.
  double FurtherAngle(int index) const;

 private:
  void Check() const;
  uint32_t U32(size_t offset) const;
  uint16_t U16(size_t offset) const;

  bool valid_ = false;
  const uint8_t* data_ = nullptr;
};

}  // namespace OrlaqLidar
