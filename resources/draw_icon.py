#!/usr/bin/env python3
"""Draws icon 129, a small blue book with a red ribbon, from the pixel map below.

Writes novelfetch.ico (one 16 x 16 image, 32 bits per pixel, for the Windows
resource script) and book_icon.h (the same pixels as 0xAARRGGBB words, for the
Linux dialog). Both outputs are committed; run this script after changing the map.
"""
import os
import struct

PALETTE = {
    ".": 0x00000000,  # transparent
    "k": 0xFF1F2A44,  # outline
    "b": 0xFF2F6FD0,  # cover
    "l": 0xFF7FB0F0,  # spine highlight
    "y": 0xFFE8B923,  # title band
    "w": 0xFFF7F3E6,  # page edge
    "g": 0xFFC9C0A8,  # page edge shadow
    "r": 0xFFD0312D,  # ribbon
}

PIXELS = [
    "................",
    "...kkkkkkkkkkk..",
    "..kllbbbbbbbbbk.",
    "..klbbbbbbbbbbkk",
    "..klbbyyyyyybbkw",
    "..klbbyyyyyybbkg",
    "..klbbbbbbbbbbkw",
    "..klbbbyyyybbbkg",
    "..klbbbbbbbbbbkw",
    "..klbbbbbbbbbbkg",
    "..klbbbbbbbbbbkw",
    "..klbbbbbbbrbbkg",
    "..kkkkkkkkkrkkkw",
    "...kwgwgwgwrwgwk",
    "....kkkkkkkrkkk.",
    "..........r.r...",
]


def argb_rows():
    assert len(PIXELS) == 16 and all(len(row) == 16 for row in PIXELS)
    return [[PALETTE[c] for c in row] for row in PIXELS]


def ico_bytes(rows):
    # BITMAPINFOHEADER: the height counts the colour image and the AND mask.
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 32, 0, 16 * 16 * 4 + 16 * 4, 0, 0, 0, 0)
    colour = b"".join(struct.pack("<I", p) for row in reversed(rows) for p in row)
    mask = b""
    for row in reversed(rows):
        bits = 0
        for x, p in enumerate(row):
            if p >> 24 == 0:
                bits |= 0x8000 >> x
        mask += struct.pack(">H", bits) + b"\0\0"  # each row padded to 32 bits
    image = header + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def header_text(rows):
    lines = [
        "// Icon 129 for the Linux dialog: 16 x 16 pixels as 0xAARRGGBB, top row first.",
        "// Written by resources/draw_icon.py together with novelfetch.ico; do not edit.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "inline constexpr int book_icon_size = 16;",
        "inline constexpr uint32_t book_icon_pixels[book_icon_size * book_icon_size] = {",
    ]
    for row in rows:
        lines.append("    " + ", ".join("0x%08X" % p for p in row) + ",")
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    rows = argb_rows()
    with open(os.path.join(here, "novelfetch.ico"), "wb") as f:
        f.write(ico_bytes(rows))
    with open(os.path.join(here, "book_icon.h"), "w", encoding="utf-8") as f:
        f.write(header_text(rows))


if __name__ == "__main__":
    main()
