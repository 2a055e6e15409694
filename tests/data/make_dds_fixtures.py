#!/usr/bin/env python3
"""Writes the DDS fixtures in images/dds/ that tests/render/DdsLoaderTest.cpp expects.
Run from this folder."""

import os
import struct

MIPMAP = 0x400000
CUBEMAP = 0x200


def header(width, height, mip_count=0, fourcc=b"\0\0\0\0", bit_count=0, caps1=0x1000,
           caps2=0):
    h = bytearray(124)
    struct.pack_into("<IIIIIII", h, 0, 124, 0x1007, height, width, 0, 0, mip_count)
    struct.pack_into("<II4sI", h, 72, 32, 4 if fourcc != b"\0\0\0\0" else 0x40, fourcc,
                     bit_count)
    struct.pack_into("<II", h, 104, caps1, caps2)
    return b"DDS " + bytes(h)


def dxt1_block(colour0):
    # colour1 black, every index 0: the whole block shows colour0.
    return struct.pack("<HHI", colour0, 0, 0)


def dxt1_mips():
    # 16 x 8 with five levels: not square, so each level's size follows both sides.
    colours = [0xF800, 0x07E0, 0x001F, 0xFFFF]
    data = bytearray()
    width, height = 16, 8
    for level in range(5):
        blocks_x, blocks_y = max(1, (width + 3) // 4), max(1, (height + 3) // 4)
        for by in range(blocks_y):
            for bx in range(blocks_x):
                data += dxt1_block(colours[(bx + by * blocks_x + level) % 4])
        width, height = max(1, width // 2), max(1, height // 2)
    return header(16, 8, 5, b"DXT1", caps1=0x1000 | MIPMAP | 0x8) + bytes(data)


def argb_cube():
    faces = [0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00, 0xFF00FFFF, 0x80FFFFFF]
    data = b"".join(struct.pack("<I", colour) * 16 for colour in faces)
    return header(4, 4, bit_count=32, caps2=CUBEMAP | 0xFE00) + data


def rgb24():
    data = bytearray()
    for y in range(2):
        for x in range(4):
            data += bytes([x * 60, y * 200, 10 + x])  # blue, green, red in memory
    return header(4, 2, bit_count=24) + bytes(data)


def main():
    os.makedirs("images/dds", exist_ok=True)
    for name, content in [("dxt1_mips.dds", dxt1_mips()), ("argb_cube.dds", argb_cube()),
                          ("rgb24.dds", rgb24())]:
        with open(os.path.join("images/dds", name), "wb") as f:
            f.write(content)


if __name__ == "__main__":
    main()
