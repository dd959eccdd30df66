// The two font images compiled into the program as complete PNG files
// (tools/fonts/make_font_images.py builds them; cmake/QvEmbed.cmake turns
// them into arrays). Nothing is read from disk at run time.
#pragma once

#include <cstdint>

// 128 x 128 RGBA: ASCII and half-width katakana in cells of 7 x 14 texels.
extern const unsigned char s_aSmallFontPng[];
extern const uint32_t s_aSmallFontPngSize;

// 1024 x 2048 RGBA: the JIS X 0208 ranges in cells of 13 x 14 texels.
extern const unsigned char s_aLargeFontPng[];
extern const uint32_t s_aLargeFontPngSize;
