#!/usr/bin/env python3
"""Writes the mesh fixtures of the mesh resource tests into tests/data/meshes/.

exporter.obj is laid out as modelling tools export OBJ files: CRLF line ends, comments, a
material library and materials, smoothing groups, objects named by "o", positions with some
numbers in exponent notation, texture coordinates with a third coordinate, quads over
position/texture/normal corners, and an n-gon over position//normal corners. The cube's
corner i lies at (x, y, z) = (bit 0, bit 1, bit 2 of i) * 2 - 1; the pentagon lies in the
plane z = 0.

channels.mesh and strip.mesh are in the engine's own text form with every section its reader
knows: colours (one past the 32-bit signed range), blend weights and triangle flags (one
flags value missing between two others); and a triangle strip. They seed the tests and
fuzz targets that damage files. Run it from anywhere; the outputs are committed so the tests
need no Python.
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

    square = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
    header = "vertexcount=4\nindexcount={}\nvertexformat=({})\nindexformat={}\n"
    channels = [header.format(6, "point,normal,uv,color,weights", "trianglelist,triangleflags")]
    channels.append("points=4\n" + "".join(f"\t{x:f} {y:f} {z:f}\n" for x, y, z in square))
    channels.append("normals=4\n" + "\t0.000000 0.000000 -1.000000\n" * 4)
    channels.append("uvs=4\n" + "".join(f"\t{x:f} {1 - y:f}\n" for x, y, _ in square))
    channels.append("colors=4\n-1\n-65536\n4294901760\n255\n")
    channels.append("weights=4\n" + "1.0 0\n0.5 0 0.5 1\n0.25 1 0.75 2\n1.0 3\n")
    channels.append("triangles=2\n\t0 1 2\n\t0 2 3\nflags=2\n\t2\n\t0\n")
    (OUT / "channels.mesh").write_text("".join(channels))
    strip = [header.format(4, "point", "trianglestrip")]
    strip.append("points=4\n" + "".join(f"\t{x:f} {y:f} {z:f}\n" for x, y, z in square))
    strip.append("strip=4\n0\n1\n3\n2\n")
    (OUT / "strip.mesh").write_text("".join(strip))
    # The baked vertex colours of a model of channels.mesh, behind a comment line.
    colours = [0xFF808080, 0xFF000000, 0x00000001, 0xFFFFFFFF]
    (OUT / "baked.dat").write_text("# baked\nvertexcount = 4\n" + "".join(f"\t{c:X}\n" for c in colours))


if __name__ == "__main__":
    main()
