// The constant catalogue of the 69 element formats, indexed by Format.
#include "format/encode_ops.h"
#include "format/format.h"

namespace {

using namespace qvenc;

#define QV_FORMAT(fmt, L, layoutClass) \
  {#fmt, L::kSize, L::kComps, L::kRead, layoutClass, Ops<L>::kOps}

constexpr FormatInfo kCatalogue[kFormatCount] = {
    {"Undefined", 0, 0, 0, 0, {}},
    QV_FORMAT(Fp32, LVec1<EncF32>, 45),
    QV_FORMAT(Fp32Vec2, LVec2<EncF32>, 77),
    QV_FORMAT(Fp32Vec3, LVec3<EncF32>, 1),
    QV_FORMAT(Fp32Vec4, LVec4<EncF32>, 19),
    QV_FORMAT(Fp16, LVec1<EncF16>, 33),
    QV_FORMAT(Fp16Vec2, LVec2<EncF16>, 49),
    QV_FORMAT(Fp16Vec3, LVec3<EncF16>, 71),
    QV_FORMAT(Fp16Vec4, LVec4<EncF16>, 92),
    QV_FORMAT(Unorm32, LVec1<EncU32>, 47),
    QV_FORMAT(Unorm32Vec2, LVec2<EncU32>, 79),
    QV_FORMAT(Unorm32Vec3, LVec3<EncU32>, 5),
    QV_FORMAT(Unorm32Vec4, LVec4<EncU32>, 27),
    QV_FORMAT(Unorm16, LVec1<EncU16>, 35),
    QV_FORMAT(Unorm16Vec2, LVec2<EncU16>, 51),
    QV_FORMAT(Unorm16Vec3, LVec3<EncU16>, 75),
    QV_FORMAT(Unorm16Vec4, LVec4<EncU16>, 100),
    QV_FORMAT(Unorm8, LVec1<EncU8>, 32),
    QV_FORMAT(Unorm8Vec2, LVec2<EncU8>, 37),
    QV_FORMAT(Unorm8Vec3, LVec3<EncU8>, 43),
    QV_FORMAT(Unorm8Vec4, LVec4<EncU8>, 66),
    QV_FORMAT(Snorm32, LVec1<EncS32>, 46),
    QV_FORMAT(Snorm32Vec2, LVec2<EncS32>, 78),
    QV_FORMAT(Snorm32Vec3, LVec3<EncS32>, 3),
    QV_FORMAT(Snorm32Vec4, LVec4<EncS32>, 23),
    QV_FORMAT(Snorm16, LVec1<EncS16>, 34),
    QV_FORMAT(Snorm16Vec2, LVec2<EncS16>, 50),
    QV_FORMAT(Snorm16Vec3, LVec3<EncS16>, 73),
    QV_FORMAT(Snorm16Vec4, LVec4<EncS16>, 96),
    QV_FORMAT(Snorm8, LVec1<EncS8>, 31),
    QV_FORMAT(Snorm8Vec2, LVec2<EncS8>, 36),
    QV_FORMAT(Snorm8Vec3, LVec3<EncS8>, 41),
    QV_FORMAT(Snorm8Vec4, LVec4<EncS8>, 62),
    QV_FORMAT(Fp32RGB, LRGB<EncF32>, 1),
    QV_FORMAT(Fp32RGBA, LRGBA<EncF32>, 19),
    QV_FORMAT(Fp32RGBX, LRGBX<EncF32>, 7),
    QV_FORMAT(Fp16RGB, LRGB<EncF16>, 71),
    QV_FORMAT(Fp16RGBA, LRGBA<EncF16>, 92),
    QV_FORMAT(Fp16RGBX, LRGBX<EncF16>, 80),
    QV_FORMAT(Unorm32RGB, LRGB<EncU32>, 5),
    QV_FORMAT(Unorm32RGBA, LRGBA<EncU32>, 27),
    QV_FORMAT(Unorm32RGBX, LRGBX<EncU32>, 15),
    QV_FORMAT(Unorm16RGB, LRGB<EncU16>, 75),
    QV_FORMAT(Unorm16RGBA, LRGBA<EncU16>, 100),
    QV_FORMAT(Unorm16RGBX, LRGBX<EncU16>, 88),
    QV_FORMAT(Unorm8RGB, LRGB<EncU8>, 43),
    QV_FORMAT(Unorm8RGBA, LRGBA<EncU8>, 66),
    QV_FORMAT(Unorm8RGBX, LRGBX<EncU8>, 56),
    QV_FORMAT(Snorm32RGB, LRGB<EncS32>, 3),
    QV_FORMAT(Snorm32RGBA, LRGBA<EncS32>, 23),
    QV_FORMAT(Snorm32RGBX, LRGBX<EncS32>, 11),
    QV_FORMAT(Snorm16RGB, LRGB<EncS16>, 73),
    QV_FORMAT(Snorm16RGBA, LRGBA<EncS16>, 96),
    QV_FORMAT(Snorm16RGBX, LRGBX<EncS16>, 84),
    QV_FORMAT(Snorm8RGB, LRGB<EncS8>, 41),
    QV_FORMAT(Snorm8RGBA, LRGBA<EncS8>, 62),
    QV_FORMAT(Snorm8RGBX, LRGBX<EncS8>, 52),
    QV_FORMAT(Fp16BGRA, LBGRA<EncF16>, 93),
    QV_FORMAT(Unorm8BGR, LBGR<EncU8>, 44),
    QV_FORMAT(Unorm8BGRA, LBGRA<EncU8>, 67),
    QV_FORMAT(Unorm8BGRX, LBGRX<EncU8>, 57),
    QV_FORMAT(Fp16ARGB, LARGB<EncF16>, 94),
    QV_FORMAT(Unorm8ARGB, LARGB<EncU8>, 68),
    QV_FORMAT(PackedUnormB5G6R5, PackedB5G6R5, 38),
    QV_FORMAT(PackedUnormB5G5R5A1, PackedB5G5R5A1, 40),
    QV_FORMAT(PackedUnormB4G4R4A4, PackedB4G4R4A4, 39),
    QV_FORMAT(PackedUnormR10G10B10A2, PackedR10G10B10A2, 70),
    QV_FORMAT(PackedFpR9G9B9E5, PackedR9G9B9E5, 61),
    QV_FORMAT(PackedFpR11G11B10, PackedR11G11B10, 60),
};

#undef QV_FORMAT

} // namespace

const FormatInfo* formatInfo(int32_t format) {
  // Unsigned compare also turns negative values away.
  if ((uint32_t)format >= (uint32_t)kFormatCount) {
    return &kCatalogue[Undefined];
  }
  return &kCatalogue[format];
}

uint16_t FloatToHalf(float value) { return qvenc::HalfFromFloat(value); }

float HalfToFloat(uint16_t half) { return qvenc::FloatFromHalf(half); }
