// The letterbox rectangle, shared by the presenters.
//
// With the output relatively narrower than the source (sw * oh >= sh * ow)
// the picture fills the width and is E = ow * sh / sw high; otherwise it
// fills the height and is E = oh * sw / sh wide. Along the other axis, of
// length O, it spans [(O - E) / 2, (O + E) / 2). With s the source length
// that E is divided by (sw or sh), d = (O - E) * s is an integer, and the
// scissor edges are
//   floor((O - E) / 2) = floor(d / 2s),  floor((O + E) / 2) = O - ceil(d / 2s),
// all in 64-bit integers. These are the truncated exact viewport edges: the
// same as truncating a single-precision viewport wherever that one is exact,
// without its one-pixel slips where it is not (at 1536x864, for one, the
// float right edge comes out just under 1344). The float viewport is the
// exact quotient rounded to the nearest float (through double, which is
// exact enough for any size a display has).
#include "present/present.h"

namespace {

// The barred axis: output length o, picture length picture / s (picture and
// d = o * s - picture are exact integers), centred.
void FitAxis(uint64_t o, uint64_t picture, uint64_t s, float* start, float* length, int32_t* low, int32_t* high) {
  uint64_t d = o * s - picture; // (o - E) * s
  uint64_t q = 2 * s;
  *start = float(double(d) / double(q));
  *length = float(double(picture) / double(s));
  *low = int32_t(d / q);
  *high = int32_t(o - (d + q - 1) / q);
}

} // namespace

void ComputeLetterboxRect(LetterboxRect* rect, uint32_t sw, uint32_t sh, uint32_t ow, uint32_t oh) {
  *rect = LetterboxRect{};
  if (sw == 0 || sh == 0 || ow == 0 || oh == 0) return;
  uint64_t acrossWidth = uint64_t(ow) * sh;  // output width in source-height units
  uint64_t acrossHeight = uint64_t(oh) * sw; // output height in source-width units
  rect->width = float(ow);
  rect->height = float(oh);
  rect->scissorRight = int32_t(ow);
  rect->scissorBottom = int32_t(oh);
  if (acrossHeight >= acrossWidth) {
    // Fills the width: picture ow * sh / sw high, bars above and below.
    FitAxis(oh, acrossWidth, sw, &rect->top, &rect->height, &rect->scissorTop, &rect->scissorBottom);
  } else {
    // Fills the height: picture oh * sw / sh wide, bars left and right.
    FitAxis(ow, acrossHeight, sh, &rect->left, &rect->width, &rect->scissorLeft, &rect->scissorRight);
  }
}
