"""JIS X 0208 row-cell codes: the large font's glyph ranges and the mapping
to Unicode that code page 932 gives them."""

# Glyph ranges of the large font image, [start, end) in row-cell codes, in
# the order their glyphs follow each other in the image.
LARGE_RANGES = (
    [(0x2121, 0x217F), (0x2221, 0x222F), (0x223A, 0x2242), (0x224A, 0x2251),
     (0x225C, 0x226B), (0x2272, 0x227A), (0x227E, 0x227F), (0x2330, 0x233A),
     (0x2341, 0x235B), (0x2361, 0x237B), (0x2421, 0x2474), (0x2474, 0x2475),
     (0x2521, 0x2577), (0x2621, 0x2639), (0x2641, 0x2659), (0x2721, 0x2742),
     (0x2751, 0x2772), (0x2821, 0x2841), (0x2D21, 0x2D3F), (0x2D40, 0x2D57),
     (0x2D5F, 0x2D7D)]
    + [(row << 8 | 0x21, row << 8 | 0x7F) for row in range(0x30, 0x4F)]
    + [(0x4F21, 0x4F54)]
    + [(row << 8 | 0x21, row << 8 | 0x7F) for row in range(0x50, 0x74)]
    + [(0x7421, 0x7427)])

# Glyph ranges of the small font image: ASCII and the JIS X 0201 katakana.
SMALL_RANGES = [(0x20, 0x80), (0xA0, 0xE0)]


def to_shift_jis(jis):
    """Row-cell code (0x2121..0x7E7E) to the two Shift_JIS bytes."""
    j1, j2 = jis >> 8, jis & 0xFF
    s1 = ((j1 - 0x21) >> 1) + 0x81
    if s1 > 0x9F:
        s1 += 0x40
    if j1 & 1:
        s2 = j2 + (0x20 if j2 >= 0x60 else 0x1F)
    else:
        s2 = j2 + 0x7E
    return bytes((s1, s2))


def _decode(data, codec):
    try:
        text = data.decode(codec)
    except UnicodeDecodeError:
        return 0
    return ord(text) if len(text) == 1 else 0


def cp932_unicode(jis):
    """Code page 932's code point for a row-cell code, 0 when it has none."""
    return _decode(to_shift_jis(jis), "cp932")


def euc_unicode(jis, codec):
    """The code point another JIS codec (euc_jp, euc_jis_2004) gives the same
    row-cell code, 0 when it has none."""
    return _decode(bytes(((jis >> 8) | 0x80, (jis & 0xFF) | 0x80)), codec)
