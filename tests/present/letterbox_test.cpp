// The letterbox of the 640x480 picture on every output from 1x1 to
// 4096x4096, against a model in integers: a 4:3 picture on ow x oh fills the
// width when 3 ow <= 4 oh (then it is 3 ow / 4 high, from (4 oh - 3 ow) / 8
// to (4 oh + 3 ow) / 8), else the height (4 oh / 3 wide, from
// (3 ow - 4 oh) / 6 to (3 ow + 4 oh) / 6). Scissor edges are those bounds
// rounded down; viewport values are the nearest floats to them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "present/present.h"

namespace {

// Whether f is a float nearest to p / q (q > 0): p / q lies between the
// midpoints to f's neighbours. All products are exact in double here.
bool IsNearestFloat(float f, int64_t p, int64_t q) {
  double below = (double(f) + double(std::nextafter(f, -INFINITY))) / 2;
  double above = (double(f) + double(std::nextafter(f, INFINITY))) / 2;
  return below * double(q) <= double(p) && double(p) <= above * double(q);
}

int64_t FloorDiv(int64_t p, int64_t q) { return p >= 0 ? p / q : -((-p + q - 1) / q); }

TEST(Letterbox, EveryOutputUpTo4096AgainstIntegerModel) {
  uint64_t wrong = 0;
  uint32_t firstW = 0, firstH = 0;
  LetterboxRect first = {};
  for (int64_t ow = 1; ow <= 4096; ow++) {
    for (int64_t oh = 1; oh <= 4096; oh++) {
      LetterboxRect r;
      ComputeLetterboxRect(&r, 640, 480, uint32_t(ow), uint32_t(oh));
      // Each span as numerators over a common denominator: start and extent.
      int64_t x0 = 0, xw = ow, xq = 1, y0 = 0, yh = oh, yq = 1;
      if (3 * ow <= 4 * oh) {
        y0 = 4 * oh - 3 * ow, yh = 6 * ow, yq = 8;
      } else {
        x0 = 3 * ow - 4 * oh, xw = 8 * oh, xq = 6;
      }
      bool ok = IsNearestFloat(r.left, x0, xq) && IsNearestFloat(r.width, xw, xq) &&
                IsNearestFloat(r.top, y0, yq) && IsNearestFloat(r.height, yh, yq) &&
                r.scissorLeft == FloorDiv(x0, xq) && r.scissorRight == FloorDiv(x0 + xw, xq) &&
                r.scissorTop == FloorDiv(y0, yq) && r.scissorBottom == FloorDiv(y0 + yh, yq);
      if (!ok && wrong++ == 0) firstW = uint32_t(ow), firstH = uint32_t(oh), first = r;
    }
  }
  EXPECT_EQ(wrong, 0u) << "first at " << firstW << "x" << firstH << ": viewport " << first.left << ", "
                       << first.top << ", " << first.width << " x " << first.height << ", scissor "
                       << first.scissorLeft << ", " << first.scissorTop << " .. " << first.scissorRight << ", "
                       << first.scissorBottom;
}

} // namespace
