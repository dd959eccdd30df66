#include "present/present_sdl.h"

void ComputeLetterboxRect(LetterboxRect* rect, uint32_t sw, uint32_t sh, uint32_t ow, uint32_t oh) {
  if (sw == 0 || sh == 0 || ow == 0 || oh == 0) {
    *rect = LetterboxRect{};
    return;
  }
  float sx = float(sw) / float(ow);
  float sy = float(sh) / float(oh);
  float kx = 1.0f, ky = 1.0f;
  if (sx >= sy) {
    ky = sy / sx;
  } else {
    kx = sx / sy;
  }
  rect->left = (1.0f - kx) * float(ow) * 0.5f;
  rect->top = (1.0f - ky) * float(oh) * 0.5f;
  rect->width = float(ow) * kx;
  rect->height = float(oh) * ky;
  rect->scissorLeft = int32_t(rect->left);
  rect->scissorTop = int32_t(rect->top);
  rect->scissorRight = int32_t(rect->left + rect->width);
  rect->scissorBottom = int32_t(rect->top + rect->height);
}
