"""Reader for X11 PCF bitmap fonts (optionally gzip-compressed).

Only what the font image generator needs: per-glyph metrics, bitmaps, the
encoding table and the font ascent/descent. Standard library only.
"""

import gzip
import struct

PCF_PROPERTIES = 1 << 0
PCF_ACCELERATORS = 1 << 1
PCF_METRICS = 1 << 2
PCF_BITMAPS = 1 << 3
PCF_BDF_ENCODINGS = 1 << 5
PCF_BDF_ACCELERATORS = 1 << 8

PCF_COMPRESSED_METRICS = 0x100
PCF_FORMAT_MASK = 0xFFFFFF00


class PcfError(Exception):
    pass


class Glyph:
    """One glyph: metrics relative to the origin on the baseline, and rows of
    0/1 texels from the top of its ink box (ascent) down (descent)."""

    __slots__ = ("lsb", "rsb", "width", "ascent", "descent", "rows")

    def __init__(self, lsb, rsb, width, ascent, descent, rows):
        self.lsb = lsb
        self.rsb = rsb
        self.width = width
        self.ascent = ascent
        self.descent = descent
        self.rows = rows


class Font:
    def __init__(self):
        self.properties = {}
        self.ascent = 0
        self.descent = 0
        self.glyphs = []
        self.encoding = {}  # (byte1 << 8 | byte2) -> glyph index

    def glyph_for(self, code):
        index = self.encoding.get(code)
        return None if index is None else self.glyphs[index]

    def codes(self):
        return sorted(self.encoding)


class _Table:
    def __init__(self, data, offset, size):
        self.data = data
        self.pos = offset
        self.end = offset + size
        (self.format,) = struct.unpack_from("<I", data, offset)
        self.pos += 4
        self.big = bool(self.format & (1 << 2))

    def _read(self, code, size):
        if self.pos + size > self.end:
            raise PcfError("table overrun")
        (value,) = struct.unpack_from((">" if self.big else "<") + code, self.data, self.pos)
        self.pos += size
        return value

    def i8(self):
        return self._read("b", 1)

    def u8(self):
        return self._read("B", 1)

    def i16(self):
        return self._read("h", 2)

    def u16(self):
        return self._read("H", 2)

    def i32(self):
        return self._read("i", 4)

    def skip(self, n):
        self.pos += n

    def bytes(self, n):
        if self.pos + n > self.end:
            raise PcfError("table overrun")
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out


def _read_metrics(table, compressed):
    if compressed:
        lsb = table.u8() - 0x80
        rsb = table.u8() - 0x80
        width = table.u8() - 0x80
        ascent = table.u8() - 0x80
        descent = table.u8() - 0x80
        return (lsb, rsb, width, ascent, descent)
    lsb = table.i16()
    rsb = table.i16()
    width = table.i16()
    ascent = table.i16()
    descent = table.i16()
    table.u16()  # attributes
    return (lsb, rsb, width, ascent, descent)


def _bit_reverse_table():
    out = bytearray(256)
    for b in range(256):
        r = 0
        for i in range(8):
            if b & (1 << i):
                r |= 0x80 >> i
        out[b] = r
    return bytes(out)


_REVERSE = _bit_reverse_table()


def _normalise_bitmap(data, fmt):
    """Brings bitmap data into most-significant-bit-first, byte-by-byte
    order, whatever the bit order and scan unit the file was written with."""
    msb_bits = bool(fmt & (1 << 3))
    msb_bytes = bool(fmt & (1 << 2))
    unit = 1 << ((fmt >> 4) & 3)
    if not msb_bits:
        data = data.translate(_REVERSE)
    if msb_bits != msb_bytes and unit > 1:
        out = bytearray(data)
        for i in range(0, len(out) - unit + 1, unit):
            out[i:i + unit] = out[i:i + unit][::-1]
        data = bytes(out)
    return data


def load(path):
    with open(path, "rb") as f:
        raw = f.read()
    if raw[:2] == b"\x1f\x8b":
        raw = gzip.decompress(raw)
    if raw[:4] != b"\x01fcp":
        raise PcfError("%s: not a PCF font" % path)
    (count,) = struct.unpack_from("<i", raw, 4)
    tables = {}
    for i in range(count):
        ttype, tfmt, tsize, toff = struct.unpack_from("<iiii", raw, 8 + 16 * i)
        tables[ttype] = (tfmt, tsize, toff)

    font = Font()

    if PCF_PROPERTIES in tables:
        _, size, off = tables[PCF_PROPERTIES]
        t = _Table(raw, off, size)
        nprops = t.i32()
        props = []
        for _ in range(nprops):
            name = t.i32()
            is_string = t.i8()
            value = t.i32()
            props.append((name, is_string, value))
        if nprops & 3:
            t.skip(4 - (nprops & 3))
        string_size = t.i32()
        strings = t.bytes(string_size)

        def cstr(o):
            return strings[o:strings.index(b"\0", o)].decode("latin-1")

        for name, is_string, value in props:
            font.properties[cstr(name)] = cstr(value) if is_string else value

    accel = PCF_BDF_ACCELERATORS if PCF_BDF_ACCELERATORS in tables else PCF_ACCELERATORS
    if accel not in tables:
        raise PcfError("%s: no accelerator table" % path)
    _, size, off = tables[accel]
    t = _Table(raw, off, size)
    t.skip(8)  # flags
    font.ascent = t.i32()
    font.descent = t.i32()

    if PCF_METRICS not in tables or PCF_BITMAPS not in tables or PCF_BDF_ENCODINGS not in tables:
        raise PcfError("%s: missing metrics, bitmaps or encodings" % path)

    _, size, off = tables[PCF_METRICS]
    t = _Table(raw, off, size)
    compressed = (t.format & PCF_FORMAT_MASK) == PCF_COMPRESSED_METRICS
    n = t.i16() if compressed else t.i32()
    metrics = [_read_metrics(t, compressed) for _ in range(n)]

    _, size, off = tables[PCF_BITMAPS]
    t = _Table(raw, off, size)
    nbitmaps = t.i32()
    if nbitmaps != n:
        raise PcfError("%s: %d bitmaps for %d metrics" % (path, nbitmaps, n))
    offsets = [t.i32() for _ in range(n)]
    sizes = [t.i32() for _ in range(4)]
    pad = 1 << (t.format & 3)
    bits = _normalise_bitmap(t.bytes(sizes[t.format & 3]), t.format)
    for (lsb, rsb, width, ascent, descent), start in zip(metrics, offsets):
        w = rsb - lsb
        h = ascent + descent
        stride = (((w + 7) // 8) + pad - 1) // pad * pad
        rows = []
        for y in range(h):
            row_bytes = bits[start + y * stride:start + (y + 1) * stride]
            rows.append(tuple((row_bytes[x >> 3] >> (7 - (x & 7))) & 1 for x in range(w)))
        font.glyphs.append(Glyph(lsb, rsb, width, ascent, descent, rows))

    _, size, off = tables[PCF_BDF_ENCODINGS]
    t = _Table(raw, off, size)
    min2 = t.i16()
    max2 = t.i16()
    min1 = t.i16()
    max1 = t.i16()
    t.i16()  # default char
    for b1 in range(min1, max1 + 1):
        for b2 in range(min2, max2 + 1):
            index = t.u16()
            if index != 0xFFFF:
                if index >= n:
                    raise PcfError("%s: glyph index out of range" % path)
                font.encoding[(b1 << 8) | b2] = index
    return font
