#!/usr/bin/env python3
"""Writes the data-table fixtures of the resource tests into tests/data/tables/.

people.csv is what Python's csv module writes with delimiter ';' and its default quoting
(minimal, doubled quotes, CR LF line ends); people_bom.csv is the same table written with a
UTF-8 signature, as spreadsheet programs save it. The rows hold a ';' inside a cell, quotes
inside a cell, a line break inside a cell, an empty last cell and a non-ASCII name.
Run it from anywhere; the outputs are committed so the tests need no Python.
"""

import csv
import pathlib

OUT = pathlib.Path(__file__).resolve().parent / "tables"

ROWS = [
    ["name", "note", "count"],
    ["Ann", "likes; semicolons", "3"],
    ["Bob", 'says "hi"', ""],
    ["Cid", "two\nlines", "7"],
    ["Zoë", "plain", "12"],
]


def write(name, encoding):
    with open(OUT / name, "w", encoding=encoding, newline="") as out:
        csv.writer(out, delimiter=";").writerows(ROWS)


def main():
    OUT.mkdir(exist_ok=True)
    write("people.csv", "utf-8")
    write("people_bom.csv", "utf-8-sig")


if __name__ == "__main__":
    main()
