"""Minimal deterministic PNG writer: 8-bit RGBA, not interlaced, one IDAT
chunk, no ancillary chunks (so no timestamps), fixed filter and zlib level."""

import struct
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def encode_rgba(width, height, rgba):
    """rgba: bytes of width * height * 4, rows top to bottom."""
    if len(rgba) != width * height * 4:
        raise ValueError("pixel data does not match %dx%d" % (width, height))
    stride = width * 4
    raw = bytearray()
    for y in range(height):
        # Filter 0 (None) on every row: on two-valued glyph images it
        # compresses better than Sub or Up.
        raw.append(0)
        raw += rgba[y * stride:(y + 1) * stride]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    idat = zlib.compress(bytes(raw), 9)
    return SIGNATURE + _chunk(b"IHDR", ihdr) + _chunk(b"IDAT", idat) + _chunk(b"IEND", b"")
