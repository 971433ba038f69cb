#include "Display/Histogram.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace OrlaqLidar {

void THistogram::Reset(double lower, double upper) {
  lower_ = lower;
  upper_ = upper;
  binWidth_ = (upper - lower) / (Bins + 1);
  counts_.fill(0);
  total_ = 0;
}

void THistogram::Remove(float value) {
  int64_t& c = counts_[Bin(value)];
  if (c > 0) --c, --total_;
}

namespace {

constexpr int Skip = THistogram::Bins;  // where values that do not count go
constexpr int Top = THistogram::Bins - 1;
constexpr double Sure = 1e-9;

// THistogram::Bin of m values at once, or Skip where the value does not
// count, with y = (v - lower) * inverse standing in for the division.
// unsure[i] is set where a whole number lies within Sure of y: there the
// floor of y may differ from the floor of the true quotient.
int BinsOf(const float* v, const uint8_t* use, int m, double lower, double inverse, int* bins, int* unsure) {
  int any = 0, i = 0;
#ifdef __SSE2__
  // Four values a step: the loop is the whole cost of a histogram rebuild.
  const __m128d low = _mm_set1_pd(lower), inv = _mm_set1_pd(inverse), zero = _mm_setzero_pd();
  const __m128d ceiling = _mm_set1_pd(Top + 64.0), sure = _mm_set1_pd(Sure);
  const __m128i top = _mm_set1_epi32(Top), skip = _mm_set1_epi32(Skip), izero = _mm_setzero_si128();
  __m128i anyUnsure = izero;
  const auto scaled = [&](__m128 f) {
    // max(y, 0) gives 0 for NaN: below bin 1, as in Bin().
    __m128d y = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(f), low), inv);
    return _mm_min_pd(_mm_max_pd(y, zero), ceiling);
  };
  const auto truncated = [](__m128d a, __m128d b) {
    return _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
  };
  for (; i + 4 <= m; i += 4) {
    const __m128 f = _mm_loadu_ps(v + i);
    const __m128d y0 = scaled(f), y1 = scaled(_mm_movehl_ps(f, f));
    __m128i bin = truncated(y0, y1);
    const __m128i doubt = _mm_sub_epi32(truncated(_mm_add_pd(y0, sure), _mm_add_pd(y1, sure)),
                                        truncated(_mm_sub_pd(y0, sure), _mm_sub_pd(y1, sure)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(unsure + i), doubt);
    anyUnsure = _mm_or_si128(anyUnsure, doubt);
    const __m128i high = _mm_cmpgt_epi32(bin, top);
    bin = _mm_or_si128(_mm_andnot_si128(high, bin), _mm_and_si128(high, top));
    int mask4;
    std::memcpy(&mask4, use + i, 4);
    const __m128i used = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(mask4), izero), izero);
    const __m128i keep = _mm_andnot_si128(_mm_cmpeq_epi32(used, izero),
                                          _mm_castps_si128(_mm_cmpgt_ps(f, _mm_setzero_ps())));
    bin = _mm_or_si128(_mm_and_si128(keep, bin), _mm_andnot_si128(keep, skip));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bins + i), bin);
  }
  any = _mm_movemask_epi8(_mm_cmpeq_epi32(anyUnsure, izero)) != 0xFFFF;
#endif
  for (; i < m; ++i) {
    double y = (static_cast<double>(v[i]) - lower) * inverse;
    y = y >= 0 ? y : 0.0;
    y = y <= Top + 64 ? y : Top + 64.0;
    const int doubt = static_cast<int>(y + Sure) - static_cast<int>(y - Sure);
    unsure[i] = doubt;
    any |= doubt;
    const int bin = std::min(static_cast<int>(y), Top);
    bins[i] = use[i] != 0 && v[i] > 0 ? bin : Skip;
  }
  return any;
}

}  // namespace

void THistogram::AddRows(const float* values, int rows, int width, const uint8_t* mask) {
  // A full rebuild adds millions of values: bins are worked out a block at
  // a time, by multiplying with the inverse width; where that leaves the
  // floor in doubt, Bin() with its true division decides.
  constexpr int Block = 64;
  // Four sets of counts, so that runs of one bin do not wait on each
  // other's increment.
  std::array<std::array<uint32_t, Bins + 1>, 4> part{};
  // Equal bounds leave no width: the inverse 0 puts everything in bin 0.
  const double lower = lower_, inverse = binWidth_ > 0 ? 1.0 / binWidth_ : 0.0;
  int bins[Block], unsure[Block];
  for (int r = 0; r < rows; ++r) {
    const float* row = values + static_cast<size_t>(r) * width;
    for (int from = 0; from < width; from += Block) {
      const int m = width - from < Block ? width - from : Block;
      const float* v = row + from;
      const uint8_t* use = mask + from;
      const int anyUnsure = BinsOf(v, use, m, lower, inverse, bins, unsure);
      if (anyUnsure)
        for (int i = 0; i < m; ++i)
          if (unsure[i] && bins[i] != Skip) bins[i] = Bin(v[i]);
      for (int i = 0; i < m; ++i) ++part[i & 3][bins[i]];
    }
  }
  for (int b = 0; b < Bins; ++b) {
    const int64_t n = int64_t{part[0][b]} + part[1][b] + part[2][b] + part[3][b];
    counts_[b] += n;
    total_ += n;
  }
}

int THistogram::Bin(float value) const {
  // Equal bounds leave no width: everything is the bottom bin.
  if (!(binWidth_ > 0)) return 0;
  const double b = std::floor((value - lower_) / binWidth_);
  if (!(b > 0)) return 0;
  return b >= Bins - 1 ? Bins - 1 : static_cast<int>(b);
}

int64_t THistogram::Peak() const { return *std::max_element(counts_.begin(), counts_.end()); }

void THistogram::Limits(double& minimum, double& maximum) const {
  const int64_t threshold = static_cast<int64_t>(static_cast<double>(Peak()) * 0.0005);
  int first = -1, last = -1;
  for (int b = 0; b < Bins; ++b) {
    // A zero threshold would accept empty bins; a bin must hold something.
    if (counts_[b] >= std::max<int64_t>(threshold, 1)) {
      if (first < 0) first = b;
      last = b;
    }
  }
  if (first < 0) {
    minimum = maximum = lower_;
    return;
  }
  minimum = lower_ + first * binWidth_;
  maximum = lower_ + last * binWidth_;
}

}  // namespace OrlaqLidar
