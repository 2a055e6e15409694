#!/usr/bin/env python3
"""Writes the archive fixtures of the archive tests into tests/data/archives/.

sample.zip holds stored and deflated entries, a folder entry, mixed-case names, an empty
entry, two names that differ only in case, a read-only entry and an entry whose bytes went
through the engine's scrambling pass. sample.zoo is the same archive scrambled as a whole.
Run it from anywhere; the outputs are committed so the tests need no Python.
"""

import pathlib
import zipfile

OUT = pathlib.Path(__file__).resolve().parent / "archives"
# A fixed time keeps the output the same from run to run.
WHEN = (2020, 1, 2, 3, 4, 6)

CONFIG = b"".join(b"key%d = value %d\n" % (i, i) for i in range(40))
WALL = bytes(range(64))
SECRET = b"scrambled settings\n"


def scramble(data):
    """stored = plain ^ previous plain ^ key; the key steps by 27 from 0."""
    previous = 0
    key = 0
    out = bytearray()
    for plain in data:
        out.append(plain ^ previous ^ key)
        previous = plain
        key = (key + 27) % 256
    return bytes(out)


def entry(name, method, attributes):
    info = zipfile.ZipInfo(name, date_time=WHEN)
    info.compress_type = method
    info.external_attr = attributes
    return info


def main():
    OUT.mkdir(exist_ok=True)
    file_mode = 0o644 << 16
    entries = [
        (entry("config.txt", zipfile.ZIP_DEFLATED, file_mode), CONFIG),
        (entry("Textures/", zipfile.ZIP_STORED, (0o40755 << 16) | 0x10), b""),
        (entry("Textures/Wall.PNG", zipfile.ZIP_STORED, file_mode), WALL),
        (entry("empty.txt", zipfile.ZIP_DEFLATED, file_mode), b""),
        (entry("Clash.txt", zipfile.ZIP_STORED, file_mode), b"first"),
        (entry("CLASH.TXT", zipfile.ZIP_STORED, file_mode), b"second"),
        (entry("ReadOnly.txt", zipfile.ZIP_STORED, (0o444 << 16) | 0x01), b"locked"),
        (entry("scrambled.txt", zipfile.ZIP_DEFLATED, file_mode), scramble(SECRET)),
    ]
    path = OUT / "sample.zip"
    with zipfile.ZipFile(path, "w") as archive:
        for info, data in entries:
            archive.writestr(info, data)
    (OUT / "sample.zoo").write_bytes(scramble(path.read_bytes()))


if __name__ == "__main__":
    main()
