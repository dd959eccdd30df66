// Viewport block, viewport edges, depth range and the tile corner table.
#include "raster/bin_internal.h"

float MortonTileTable[kTileCount][8];

void FillMortonTileTable() {
  for (uint32_t t = 0; t < kTileCount; t++) {
    float x = (float)MortonX(t << kTileCodeBits), y = (float)MortonY(t << kTileCodeBits);
    const float far = kTileSide - 1; // the last pixel index of the tile
    float* e = MortonTileTable[t];
    e[0] = x;       e[1] = y;
    e[2] = x + far; e[3] = y;
    e[4] = x;       e[5] = y + far;
    e[6] = x + far; e[7] = y + far;
  }
}

void DeriveViewport(RenderState* s, int32_t x, int32_t y, int32_t width, int32_t height) {
  s->viewportX = x;
  s->viewportY = y;
  s->viewportWidth = width;
  s->viewportHeight = height;
  s->halfWidth = (float)width * 0.5f;
  s->halfHeight = (float)height * 0.5f;
  s->centreX = (float)x + s->halfWidth;
  s->centreY = (float)y + s->halfHeight;
  s->rcpHalfWidth = 1.0f / s->halfWidth;
  s->rcpHalfHeight = 1.0f / s->halfHeight;

  // Morton codes have 11 bits per axis; anything else cannot be binned.
  int64_t right = (int64_t)x + width, bottom = (int64_t)y + height;
  if (width <= 0 || height <= 0 || x < 0 || y < 0 || right > kScreenSide || bottom > kScreenSide) {
    s->tileFirst = s->tileEnd = 0;
    s->blockLevel = s->blockX = s->blockY = 0;
    for (int i = 0; i < 4; i++) s->viewportEdges[i] = EdgeEquation{0, 0, -1};
    return;
  }

  uint32_t first = MortonOf((uint32_t)x, (uint32_t)y) & ~kTileCodeMask;
  uint32_t last = MortonOf((uint32_t)(right - 1), (uint32_t)(bottom - 1)) | kTileCodeMask;
  uint32_t highest = 31 - (uint32_t)__builtin_clz(first ^ last);
  uint32_t mask = (highest >= 31) ? 0xFFFFFFFFu : ((2u << highest) - 1);
  first &= ~mask;
  s->tileFirst = first;
  s->tileEnd = first + mask + 1;
  s->blockLevel = (highest + 1 + 1) / 2; // ceil(log2(mask + 1) / 2)
  s->blockX = MortonX(first);
  s->blockY = MortonY(first);

  static const float planes[4][3] = {{1, 0, 1}, {-1, 0, 1}, {0, 1, 1}, {0, -1, 1}};
  for (int i = 0; i < 4; i++) {
    int32_t v[3];
    ToBlockFixed(planes[i], v);
    s->viewportEdges[i] = MakeEdge(s, v[0], v[1], v[2]);
  }
}

void DeriveDepthRange(RenderState* s, float depthNear, float depthFar) {
  s->depthNear = depthNear;
  s->depthFar = depthFar;
  s->depthMin = depthNear < depthFar ? depthNear : depthFar;
  s->depthMax = depthNear < depthFar ? depthFar : depthNear;
  s->depthScale = (depthFar - depthNear) * 0.5f;
  s->depthOffset = s->depthScale + depthNear;
}
