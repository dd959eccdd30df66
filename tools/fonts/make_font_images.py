#!/usr/bin/env python3
"""Builds the two font images the program embeds, from Debian's X11 bitmap
fonts:

  small_font.png   128 x 128, cells of 7 x 14: ASCII [0x20, 0x80) and the
                   codes [0xA0, 0xE0), whose 0xA1..0xDF are the half-width
                   katakana U+FF61..U+FF9F (misc-fixed 6x13, xfonts-base)
  large_font.png  1024 x 2048, cells of 13 x 14: the JIS X 0208 ranges of
                   jis.LARGE_RANGES (misc-fixed 12x13ja, xfonts-base; the
                   cells it lacks from the JIS X 0213 font K12-2004-1,
                   xfonts-jisx0213)

Layout (what the glyph table builder reads back): the glyph of ordinal e
(its position in the concatenated code ranges) sits in column e mod C and
row e div C, with C = (W - 1) // P columns of P = glyph width + 1 texels;
the cell starts at (P * column, 14 * row) and the glyph box of glyph width
x 13 texels at one texel right and down from there (a gutter left and top).

Placement rule inside the glyph box: the glyph's origin is the box's left
edge and its baseline lies `ascent` rows below the box's top, where ascent
is the main font's FONT_ASCENT (11 for both misc-fixed fonts). Each glyph's
ink box is put by its own bearings (x = lsb, top = baseline - ascent), so
fonts whose ascent or bounding boxes differ share the baseline. Ink outside
the box is clipped.

Glyph texels are (255, 255, 255, 255), all others (0, 0, 0, 0). The output
is deterministic: regenerating from the same fonts gives identical bytes.

Usage: make_font_images.py OUTPUT_DIR [FONT_DIR]   (FONT_DIR defaults to
/usr/share/fonts/X11/misc). Prints the cells left blank to stderr.
"""

import os
import sys

# Run from the source tree: leave no __pycache__ behind.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import jis  # noqa: E402
import pcf  # noqa: E402
import png  # noqa: E402

GLYPH_HEIGHT = 13
CELL_HEIGHT = 14


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.rgba = bytearray(width * height * 4)

    def set(self, x, y):
        i = (y * self.width + x) * 4
        self.rgba[i:i + 4] = b"\xff\xff\xff\xff"


def cell_origin(ordinal, width, glyph_width):
    pitch = glyph_width + 1
    columns = (width - 1) // pitch
    return pitch * (ordinal % columns), CELL_HEIGHT * (ordinal // columns)


def draw_glyph(canvas, glyph, x0, y0, glyph_width, ascent):
    """Draws glyph into the box at (x0 + 1, y0 + 1); returns the number of
    texels it set."""
    left = x0 + 1
    top = y0 + 1
    count = 0
    for r, row in enumerate(glyph.rows):
        y = ascent - glyph.ascent + r
        if not 0 <= y < GLYPH_HEIGHT:
            continue
        for c, bit in enumerate(row):
            x = glyph.lsb + c
            if bit and 0 <= x < glyph_width:
                canvas.set(left + x, top + y)
                count += 1
    return count


def ordinals(ranges):
    e = 0
    for start, end in ranges:
        for code in range(start, end):
            yield e, code
            e += 1


def small_code_point(code):
    if 0xA1 <= code <= 0xDF:
        return code + 0xFEC0
    if code < 0x80:
        return code
    return 0


def build_small(font_dir, blanks):
    font = pcf.load(os.path.join(font_dir, "6x13.pcf.gz"))
    canvas = Canvas(128, 128)
    for e, code in ordinals(jis.SMALL_RANGES):
        u = small_code_point(code)
        glyph = font.glyph_for(u) if u else None
        x0, y0 = cell_origin(e, canvas.width, 6)
        if glyph is None or draw_glyph(canvas, glyph, x0, y0, 6, font.ascent) == 0:
            blanks.append("small 0x%02X (U+%04X)" % (code, u))
    return canvas


def build_large(font_dir, blanks):
    main = pcf.load(os.path.join(font_dir, "12x13ja.pcf.gz"))
    fill = pcf.load(os.path.join(font_dir, "K12-2004-1.pcf.gz"))
    canvas = Canvas(1024, 2048)
    for e, code in ordinals(jis.LARGE_RANGES):
        u = jis.cp932_unicode(code)
        x0, y0 = cell_origin(e, canvas.width, 12)
        glyph = None
        ascent = main.ascent
        if u:
            glyph = main.glyph_for(u)
            if glyph is None:
                # A few cells carry another code point in plain JIS X 0208
                # than in code page 932 (the font may have used that one).
                alt = jis.euc_unicode(code, "euc_jp")
                glyph = main.glyph_for(alt) if alt else None
            if glyph is None and jis.euc_unicode(code, "euc_jis_2004") == u:
                # JIS X 0213 plane 1 keeps the NEC row 13 characters at the
                # same row-cell codes; take the cell only when it holds the
                # very same character.
                glyph = fill.glyph_for(code)
        if glyph is None or draw_glyph(canvas, glyph, x0, y0, 12, ascent) == 0:
            blanks.append("large 0x%04X (U+%04X)" % (code, u))
    return canvas


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    out_dir = argv[1]
    font_dir = argv[2] if len(argv) == 3 else "/usr/share/fonts/X11/misc"
    blanks = []
    small = build_small(font_dir, blanks)
    large = build_large(font_dir, blanks)
    os.makedirs(out_dir, exist_ok=True)
    for name, canvas in (("small_font.png", small), ("large_font.png", large)):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(png.encode_rgba(canvas.width, canvas.height, bytes(canvas.rgba)))
    for b in blanks:
        sys.stderr.write("blank cell: %s\n" % b)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
