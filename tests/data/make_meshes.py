#!/usr/bin/env python3
"""Writes the mesh fixtures of the mesh resource tests into tests/data/meshes/.

exporter.obj is laid out as modelling tools export OBJ files: CRLF line ends, comments, a
material library and materials, smoothing groups, objects named by "o", positions with some
numbers in exponent notation, texture coordinates with a third coordinate, quads over
position/texture/normal corners, and an n-gon over position//normal corners. The cube's
corner i lies at (x, y, z) = (bit 0, bit 1, bit 2 of i) * 2 - 1; the pentagon lies in the
plane z = 0. Run it from anywhere; the output is committed so the tests need no Python.
"""

import pathlib

OUT = pathlib.Path(__file__).resolve().parent / "meshes"


def number(value, exponent):
    return f"{value:.6e}" if exponent else f"{value:.6f}"


def main():
    OUT.mkdir(exist_ok=True)
    lines = ["# Exported by a modelling tool", "mtllib exporter.mtl", "o Cube"]
    for i in range(8):
        corner = [((i >> bit) & 1) * 2.0 - 1.0 for bit in range(3)]
        # Every other corner is written in exponent notation, as some exporters do.
        lines.append("v " + " ".join(number(c, i % 2 == 1) for c in corner))
    for u, v in [(0.0, 0.0), (1.0, 0.0), (1.0, 1.0), (0.0, 1.0)]:
        lines.append(f"vt {u:.6f} {v:.6f} 0.000000")
    for normal in ["-1 0 0", "1 0 0", "0 -1 0", "0 1 0", "0 0 -1", "0 0 1"]:
        lines.append("vn " + " ".join(f"{float(c):.4f}" for c in normal.split()))
    lines += ["usemtl Material", "s off"]
    quads = [(1, 5, 7, 3), (2, 4, 8, 6), (1, 2, 6, 5), (3, 7, 8, 4), (1, 3, 4, 2), (5, 6, 8, 7)]
    for face, quad in enumerate(quads):
        lines.append("f " + " ".join(f"{p}/{t + 1}/{face + 1}" for t, p in enumerate(quad)))
    lines += ["o Plane", "v 0.0 1.0 0.0", "v -0.951057 0.309017 0.0", "v -0.587785 -0.809017 0.0",
              "v 0.587785 -0.809017 0.0", "v 0.951057 0.309017 0.0", "vn 0.0 0.0 1.0",
              "usemtl None", "s 1", "f 9//7 10//7 11//7 12//7 13//7"]
    (OUT / "exporter.obj").write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))


if __name__ == "__main__":
    main()
