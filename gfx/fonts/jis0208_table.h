// JIS X 0208 to Unicode, as Windows code page 932 maps it (generated table,
// tools/fonts/make_jis_table.py).
#pragma once

#include <cstdint>

// 94 rows of 94 cells: index (row byte - 0x21) * 94 + (cell byte - 0x21).
// 0 where code page 932 has no character.
extern const uint16_t s_aJis0208ToUnicode[94 * 94];

// Code point of a row-cell code 0x2121..0x7E7E, 0 for anything else
// (including codes whose row or cell byte lies outside 0x21..0x7E).
inline uint16_t JisToUnicode(uint32_t jis)
{
  uint32_t row = (jis >> 8) - 0x21u;
  uint32_t cell = (jis & 0xFFu) - 0x21u;
  if (jis > 0xFFFFu || row >= 94u || cell >= 94u)
    return 0;
  return s_aJis0208ToUnicode[row * 94u + cell];
}
