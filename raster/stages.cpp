// The built-in stage programs and their constant descriptors.
#include "format/format.h"
#include "raster/bin_internal.h"

namespace {

const StageLayout kVec4Layout = {16, 1, {{0, 4}}};
const StageLayout kFontVsInputLayout = {32, 2, {{0, 4}, {16, 4}}};

inline float* SlotPosition(uint8_t* slot) { return reinterpret_cast<VertexSlot*>(slot)->position; }

void NullVsMain(const void*, const float* inputs, uint8_t* first, uint8_t* end, uint32_t stride) {
  for (uint8_t* p = first; p < end; p += stride, inputs += 4) {
    float* position = SlotPosition(p);
    float* out = VertexSlotOutputs(reinterpret_cast<VertexSlot*>(p));
    position[0] = inputs[0];
    position[1] = -inputs[1];
    position[2] = inputs[2];
    position[3] = inputs[3];
    out[0] = inputs[0];
    out[1] = inputs[1];
    out[2] = inputs[2];
    out[3] = inputs[3];
  }
}

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

void FontVsMain(const void* constants, const float* inputs, uint8_t* first, uint8_t* end, uint32_t stride) {
  const float* m = constants ? static_cast<const float*>(constants) : kIdentity;
  for (uint8_t* p = first; p < end; p += stride, inputs += 8) {
    float x = inputs[0], y = inputs[1], z = inputs[2], w = inputs[3];
    float* position = SlotPosition(p);
    float* out = VertexSlotOutputs(reinterpret_cast<VertexSlot*>(p));
    position[0] = m[0] * x + m[4] * y + m[8] * z + m[12] * w;
    position[1] = -(m[1] * x + m[5] * y + m[9] * z + m[13] * w);
    position[2] = m[2] * x + m[6] * y + m[10] * z + m[14] * w;
    position[3] = m[3] * x + m[7] * y + m[11] * z + m[15] * w;
    out[0] = inputs[4];
    out[1] = inputs[5];
    out[2] = inputs[6];
    out[3] = inputs[7] * position[3];
  }
}

PixelRecord** FontFsMain(const void* constants, PixelRecord** first, PixelRecord** end) {
  const FontFsConstants* k = static_cast<const FontFsConstants*>(constants);
  // One texture and sampler for the whole list: pick the kernel once.
  SampleKernelFn kernel = (k && k->texture && k->sampler) ? SelectSampleKernel(k->texture, k->sampler) : nullptr;
  for (PixelRecord** p = first; p < end; p++) {
    float texel[4] = {0, 0, 0, 0};
    if (kernel) kernel(k->texture, k->sampler, (*p)->interpolated, texel);
    float* out = (*p)->outputs;
    for (int i = 0; i < 4; i++) out[i] = k ? texel[i] * k->colour[i] : 0.0f;
  }
  return end;
}

PixelRecord** AlphaBlendBsMain(const void* constants, PixelRecord** first, PixelRecord** end) {
  const AlphaTestConstants* k = static_cast<const AlphaTestConstants*>(constants);
  int32_t compare = k ? k->compare : CompareFunction::Always;
  float reference = k ? k->reference : 0.0f;
  PixelRecord** kept = first;
  for (PixelRecord** p = first; p < end; p++) {
    PixelRecord* r = *p;
    const float* s = r->outputs;
    float a = s[3];
    if (!AlphaPasses(compare, a, reference)) continue;
    float* d = r->target;
    d[0] = (1.0f - a) * d[0] + a * s[0];
    d[1] = (1.0f - a) * d[1] + a * s[1];
    d[2] = (1.0f - a) * d[2] + a * s[2];
    d[3] = a;
    *kept++ = r;
  }
  return kept;
}

} // namespace

const StageDescriptor NullVs = {reinterpret_cast<StageFunction>(NullVsMain), &kVec4Layout, &kVec4Layout, "NullVs"};
const StageDescriptor FontVs = {reinterpret_cast<StageFunction>(FontVsMain), &kFontVsInputLayout, &kVec4Layout, "FontVs"};
const StageDescriptor FontFs = {reinterpret_cast<StageFunction>(FontFsMain), &kVec4Layout, &kVec4Layout, "FontFs"};
const StageDescriptor AlphaBlendBs = {reinterpret_cast<StageFunction>(AlphaBlendBsMain), &kVec4Layout, &kVec4Layout,
                                      "AlphaBlendBs"};
