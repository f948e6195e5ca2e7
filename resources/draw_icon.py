#!/usr/bin/env python3
"""Draws icon 129, a small blue book with a red ribbon, from the pixel map below.

Writes novelfetch.ico (for the Windows resource script) and book_icon.h (the
16 x 16 pixels as 0xAARRGGBB words, for the Linux dialog). Both outputs are
committed; run this script after changing the map.

  draw_icon.py --hicolor DIR  writes DIR/NxN/apps/novelfetch.png instead, the
                              icons of the Linux menu entry (the build runs this)

Every size is the 16-pixel map scaled by a whole factor, so each keeps the
artwork's exact pixels and colours: 16, 32 and 48 pixels as 32-bit bitmaps in
the icon file, 256 pixels as PNG (the form Windows reads at that size).
"""
import argparse
import os
import struct
import zlib

SIZES = (16, 32, 48, 256)

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


def scaled(rows, size):
    factor = size // len(rows)
    return [[p for p in row for _ in range(factor)] for row in rows for _ in range(factor)]


def bitmap_image(rows):
    size = len(rows)
    # BITMAPINFOHEADER: the height counts the colour image and the AND mask.
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4 + size * mask_stride, 0, 0, 0,
                         0)
    colour = b"".join(struct.pack("<I", p) for row in reversed(rows) for p in row)
    mask = b""
    for row in reversed(rows):
        bits = 0
        for p in row:
            bits = bits << 1 | (p >> 24 == 0)
        mask += bits.to_bytes(size // 8, "big").ljust(mask_stride, b"\0")
    return header + colour + mask


def png_image(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    size = len(rows)
    raw = b"".join(b"\0" + b"".join(struct.pack(">I", (p << 8 | p >> 24) & 0xFFFFFFFF) for p in row) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8 bits per channel, RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def ico_bytes(rows):
    images = [png_image(scaled(rows, size)) if size == 256 else bitmap_image(scaled(rows, size)) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    for size, image in zip(SIZES, images):
        # A width and height of 0 stand for 256.
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(images)


def header_text(rows):
    lines = [
        "// Icon 129 for the Linux dialog: 16 x 16 pixels as 0xAARRGGBB, top row first.",
        "// Written by resources/draw_icon.py together with novelfetch.ico; do not edit.",
        "#pragma once",
        "",
        "#include <cstdint>",
        "",
        "inline constexpr int book_icon_size = 16;",
        "// One row of pixels per line, so the picture can be read in the source.",
        "// clang-format off",
        "inline constexpr uint32_t book_icon_pixels[book_icon_size * book_icon_size] = {",
    ]
    for row in rows:
        lines.append("    " + ", ".join("0x%08X" % p for p in row) + ",")
    lines.append("};")
    lines.append("// clang-format on")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--hicolor", metavar="DIR", help="write the Linux menu icons into DIR")
    args = parser.parse_args()
    rows = argb_rows()
    if args.hicolor:
        for size in SIZES:
            folder = os.path.join(args.hicolor, "%dx%d" % (size, size), "apps")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "novelfetch.png"), "wb") as f:
                f.write(png_image(scaled(rows, size)))
        return
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "novelfetch.ico"), "wb") as f:
        f.write(ico_bytes(rows))
    with open(os.path.join(here, "book_icon.h"), "w", encoding="utf-8") as f:
        f.write(header_text(rows))


if __name__ == "__main__":
    main()
