#pragma once
// The 8-bit picture of a quicklook panel. Scrolling sideways moves the
// picture's start inside a larger buffer instead of copying it: shifting a
// row-major buffer by k bytes shifts every line by k columns. Index 0 is
// "no data".
#include <cstddef>
#include <cstdint>
#include <vector>

namespace OrlaqLidar {

class TScrolledBitmap {
 public:
  static constexpr int AddonLines = 10;

  TScrolledBitmap(int width, int rows);

  int Width() const { return width_; }
  int Rows() const { return rows_; }
  int Stride() const { return stride_; }
  // Line 0 of the picture; lines follow each other every Stride() bytes.
  uint8_t* Line(int row) { return buffer_.data() + start_ + static_cast<size_t>(row) * stride_; }
  const uint8_t* Line(int row) const { return buffer_.data() + start_ + static_cast<size_t>(row) * stride_; }
  uint8_t Pixel(int row, int column) const { return Line(row)[column]; }
  void SetPixel(int row, int column, uint8_t index) { Line(row)[column] = index; }
  // Offset of line 0 in the buffer, for callers that need an aligned base.
  size_t StartOffset() const { return start_; }
  const uint8_t* Buffer() const { return buffer_.data(); }

  // Moves the view k columns later (k < 0: earlier); the exposed columns
  // are cleared. A shift of the whole width or more clears everything.
  void Scroll(int k);
  void Clear();

 private:
  void ClearColumns(int from, int count);

  int width_, rows_, stride_;
  std::vector<uint8_t> buffer_;
  size_t start_;
};

}  // namespace OrlaqLidar
