// The rectangle the picture is fitted into on the output: 4:3 kept, one axis
// filled, centred on the other.
#include "present/d3d12_win32.h"

void d3d12::ComputeLetterboxRect(LetterboxRect* rect, uint32_t sourceWidth, uint32_t sourceHeight,
                                 uint32_t outputWidth, uint32_t outputHeight) {
  *rect = LetterboxRect{};
  if (sourceWidth == 0 || sourceHeight == 0 || outputWidth == 0 || outputHeight == 0) return;
  float ow = static_cast<float>(outputWidth);
  float oh = static_cast<float>(outputHeight);
  float sx = static_cast<float>(sourceWidth) / ow;
  float sy = static_cast<float>(sourceHeight) / oh;
  float kx = 1.0f;
  float ky = 1.0f;
  if (sx >= sy)
    ky = sy / sx;
  else
    kx = sx / sy;
  rect->left = (1.0f - kx) * ow * 0.5f;
  rect->top = (1.0f - ky) * oh * 0.5f;
  rect->width = ow * kx;
  rect->height = oh * ky;
  rect->minDepth = 0.0f;
  rect->maxDepth = 0.0f;
  rect->scissorLeft = static_cast<int32_t>(rect->left);
  rect->scissorTop = static_cast<int32_t>(rect->top);
  rect->scissorRight = static_cast<int32_t>(rect->left + rect->width);
  rect->scissorBottom = static_cast<int32_t>(rect->top + rect->height);
}
