#!/usr/bin/env python3
"""Writes the PNG fixtures of the image tests into tests/data/images/png/.

Every colour type at every legal bit depth, plain and interlaced, at an odd size (13 x 11) so
that interlace passes are partial and low-bit rows end mid-byte. Rows cycle through the five
filter types; the zlib streams are stored, fixed-code or dynamic depending on the file. Some
files carry a transparency chunk, split image data or chunks a decoder must skip. The chunks
are written here by hand over Python's zlib; the outputs are committed so the tests need no
Python.
"""

import pathlib
import struct
import zlib

OUT = pathlib.Path(__file__).resolve().parent / "images" / "png"
WIDTH, HEIGHT = 13, 11
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
DEPTHS = {0: (1, 2, 4, 8, 16), 2: (8, 16), 3: (1, 2, 4, 8), 4: (8, 16), 6: (8, 16)}
PASSES = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
          (0, 1, 1, 2)]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def sample(x, y, c, depth):
    """A pattern with gradients and jumps, so every filter has work to do."""
    value = (x * 37 + y * 91 + c * 53 + (x * y) * 7) % 65536
    return value % (1 << depth)


def pack_row(samples, depth):
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if depth == 8:
        return bytes(samples)
    out = bytearray()
    bits = 0
    count = 0
    for s in samples:
        bits = (bits << depth) | s
        count += depth
        if count == 8:
            out.append(bits)
            bits = count = 0
    if count:
        out.append(bits << (8 - count))
    return bytes(out)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_row(kind, row, previous, distance):
    out = bytearray()
    for i, value in enumerate(row):
        a = row[i - distance] if i >= distance else 0
        b = previous[i]
        c = previous[i - distance] if i >= distance else 0
        predictor = [0, a, b, (a + b) // 2, paeth(a, b, c)][kind]
        out.append((value - predictor) % 256)
    return bytes([kind]) + bytes(out)


def image_samples(colour, depth, palette_size):
    rows = []
    for y in range(HEIGHT):
        row = []
        for x in range(WIDTH):
            for c in range(CHANNELS[colour]):
                s = sample(x, y, c, depth)
                if colour == 3:
                    s %= palette_size
                row.append(s)
        rows.append(row)
    return rows


def filtered_data(rows, colour, depth, interlaced):
    channels = CHANNELS[colour]
    distance = max(1, channels * depth // 8)
    passes = PASSES if interlaced else [(0, 0, 1, 1)]
    out = bytearray()
    counter = 0
    for x0, y0, dx, dy in passes:
        xs = range(x0, WIDTH, dx)
        ys = range(y0, HEIGHT, dy)
        if not xs or not ys:
            continue
        previous = None
        for y in ys:
            samples = []
            for x in xs:
                samples.extend(rows[y][x * channels:(x + 1) * channels])
            packed = pack_row(samples, depth)
            if previous is None:
                previous = bytes(len(packed))
            out += filter_row(counter % 5, packed, previous, distance)
            counter += 1
            previous = packed
    return bytes(out)


def compress(data, mode):
    if mode == "stored":
        return zlib.compress(data, 0)
    if mode == "fixed":
        c = zlib.compressobj(9, zlib.DEFLATED, 15, 9, zlib.Z_FIXED)
        return c.compress(data) + c.flush()
    return zlib.compress(data, 9)


def write_png(name, colour, depth, interlaced, mode="dynamic", extra_before_idat=b"",
              split_idat=False, trns=None):
    palette_size = min(1 << depth, 200) if colour == 3 else 0
    rows = image_samples(colour, depth, palette_size)
    ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, depth, colour, 0, 0, 1 if interlaced else 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
    if colour == 3:
        plte = bytearray()
        for i in range(palette_size):
            plte += bytes([(i * 71) % 256, (i * 13 + 40) % 256, (255 - i * 29) % 256])
        data += chunk(b"PLTE", bytes(plte))
    if trns is not None:
        data += chunk(b"tRNS", trns)
    data += extra_before_idat
    stream = compress(filtered_data(rows, colour, depth, interlaced), mode)
    if split_idat:
        third = len(stream) // 3
        for part in (stream[:third], stream[third:2 * third], stream[2 * third:]):
            data += chunk(b"IDAT", part)
    else:
        data += chunk(b"IDAT", stream)
    data += chunk(b"IEND", b"")
    (OUT / name).write_bytes(data)


def main():
    OUT.mkdir(exist_ok=True)
    modes = ["dynamic", "fixed", "stored"]
    n = 0
    for colour, depths in DEPTHS.items():
        for depth in depths:
            for interlaced in (False, True):
                name = "c%d_d%02d_%s.png" % (colour, depth, "adam7" if interlaced else "plain")
                write_png(name, colour, depth, interlaced, modes[n % 3])
                n += 1
    # Transparency: a grey key, a 16-bit grey key, an RGB key, palette alpha.
    write_png("trns_grey1.png", 0, 1, False, trns=struct.pack(">H", 1))
    write_png("trns_grey16.png", 0, 16, True, trns=struct.pack(">H", sample(3, 2, 0, 16)))
    write_png("trns_rgb8.png", 2, 8, False,
              trns=struct.pack(">HHH", sample(5, 4, 0, 8), sample(5, 4, 1, 8),
                               sample(5, 4, 2, 8)))
    write_png("trns_palette4.png", 3, 4, True, trns=bytes([0, 128, 255, 7, 99]))
    # A decoder must skip unknown ancillary chunks and join split image data.
    skipped = chunk(b"teST", b"ancillary") + chunk(b"tEXt", b"Title\x00fixture")
    write_png("chunks_split.png", 6, 8, False, extra_before_idat=skipped, split_idat=True)


if __name__ == "__main__":
    main()
