#!/usr/bin/env python3
"""Writes the bitmap fixtures in images/: one per depth and coding, all with the pixel
patterns that tests/codecs/BmpCodecTest.cpp expects. Run from this folder."""

import struct


def palette_colour(i):
    return ((i * 53) & 255, (i * 97 + 31) & 255, (i * 29 + 7) & 255)


def true_colour(x, y):
    return ((x * 40 + 10) & 255, (y * 60 + 20) & 255, ((x + y) * 25 + 5) & 255)


def alpha_value(x, y):
    return (x * 60 + y * 7 + 15) & 255


def index_value(x, y, colours):
    return (x * 5 + y * 3) % colours


def rle_index(x, y, colours):
    # Runs, short irregular stretches and zeros that the writer skips with a delta escape.
    if y == 1 and x >= 6 or y == 2 and x < 2:
        return 0
    if y == 3 and 2 <= x <= 5:
        return 0
    if x < 4:
        return (y + 1) % colours
    return (x * 7 + y) % colours


def bmp(width, height, bits, pixels, palette=(), compression=0, info_size=40, masks=(),
        colours_used=None, data_offset=None):
    info = struct.pack('<IiiHHIIiiII', info_size, width, height, 1, bits, compression,
                       len(pixels), 2835, 2835,
                       len(palette) if colours_used is None else colours_used, 0)
    extra = b''.join(struct.pack('<I', m) for m in masks)
    if info_size > 40:
        extra = extra.ljust(info_size - 40, b'\0')
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(info) + len(extra) + len(table)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0,
                         offset if data_offset is None else data_offset)
    return header + info + extra + table + pixels


def rows(width, height, row_bytes, top_down=False):
    out = b''
    order = range(height) if top_down else range(height - 1, -1, -1)
    for y in order:
        data = row_bytes(y)
        out += data + b'\0' * ((4 - len(data) % 4) % 4)
    return out


def packed_row(width, y, bits, colours):
    value, count, out = 0, 0, bytearray()
    for x in range(width):
        value = value << bits | index_value(x, y, colours)
        count += bits
        if count == 8:
            out.append(value)
            value, count = 0, 0
    if count:
        out.append(value << (8 - count))
    return bytes(out)


def rle(width, height, four):
    colours = 16 if four else 256
    grid = [[rle_index(x, y, colours) for x in range(width)] for y in range(height)]
    stored = [(x, y) for y in range(height - 1, -1, -1) for x in range(width)]
    out = bytearray()
    i = 0
    while i < len(stored):
        x, y = stored[i]
        value = grid[y][x]
        run = 1
        while i + run < len(stored) and stored[i + run][1] == y and \
                grid[y][stored[i + run][0]] == value:
            run += 1
        zeros = 0
        while i + zeros < len(stored) and grid[stored[i + zeros][1]][stored[i + zeros][0]] == 0:
            zeros += 1
        if zeros >= 3 and i + zeros < len(stored) and stored[i + zeros][0] >= x:
            tx, ty = stored[i + zeros]
            out += bytes([0, 2, tx - x, y - ty])
            i += zeros
            continue
        if run == 1 and x + 3 <= width and len({grid[y][x + k] for k in range(3)}) == 3:
            # An absolute stretch up to the next repeat or the row's end.
            end = x + 3
            while end < width and grid[y][end] != grid[y][end - 1]:
                end += 1
            if end < width and end - x > 3:
                end -= 1  # the last one starts the next run
            values = [grid[y][k] for k in range(x, end)]
            out += bytes([0, len(values)])
            if four:
                padded = values + [0] * (len(values) % 2)
                body = bytes(padded[k] << 4 | padded[k + 1] for k in range(0, len(padded), 2))
            else:
                body = bytes(values)
            out += body + b'\0' * (len(body) % 2)
            i += len(values)
        else:
            out += bytes([run, value << 4 | value if four else value])
            i += run
        if i < len(stored) and stored[i][0] == 0 and stored[i - 1][1] == stored[i][1] + 1:
            out += bytes([0, 0])
    out += bytes([0, 1])
    return bytes(out)


def main():
    w, h = 5, 3
    files = {}
    for bits, width in ((1, 13), (4, 7), (8, 6)):
        colours = 1 << bits
        palette = [palette_colour(i) for i in range(colours)]
        files['bits%d.bmp' % bits] = bmp(
            width, h, bits, rows(width, h, lambda y: packed_row(width, y, bits, colours)),
            palette, colours_used=0 if bits == 8 else colours)
    files['bits24.bmp'] = bmp(w, h, 24, rows(w, h, lambda y: b''.join(
        bytes(reversed(true_colour(x, y))) for x in range(w))))
    files['topdown24.bmp'] = bmp(w, -h, 24, rows(w, h, lambda y: b''.join(
        bytes(reversed(true_colour(x, y))) for x in range(w)), top_down=True))
    files['bits32.bmp'] = bmp(w, h, 32, rows(w, h, lambda y: b''.join(
        bytes(reversed(true_colour(x, y))) + b'\0' for x in range(w))))
    files['alpha32.bmp'] = bmp(w, h, 32, rows(w, h, lambda y: b''.join(
        bytes(reversed(true_colour(x, y))) + bytes([alpha_value(x, y)]) for x in range(w))),
        compression=3, info_size=108, masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000))

    def rgb565(x, y):
        r, g, b = true_colour(x, y)
        return struct.pack('<H', (r >> 3) << 11 | (g >> 2) << 5 | b >> 3)
    files['bits16.bmp'] = bmp(w, h, 16, rows(w, h, lambda y: b''.join(
        rgb565(x, y) for x in range(w))), compression=3, masks=(0xF800, 0x07E0, 0x001F))

    for four, name in ((False, 'rle8.bmp'), (True, 'rle4.bmp')):
        colours = 16 if four else 256
        palette = [palette_colour(i) for i in range(colours)]
        files[name] = bmp(9, 4, 4 if four else 8, rle(9, 4, four), palette,
                          compression=2 if four else 1)
    for name, data in files.items():
        with open('images/' + name, 'wb') as f:
            f.write(data)


main()
