#!/bin/sh
# Assembles the script programs of this folder into their "bin" and "sym" files, and writes the
# fuzz target's seed (the code file's length in two little-endian bytes, the code file, the
# symbol file):
#   tests/data/scripts/make_scripts.sh build/debug/tools/quarn-tool
set -e
tool=$(realpath "$1")
cd "$(dirname "$0")"
"$tool" script asm counter.asm counter
"$tool" script asm calls.asm calls
"$tool" script asm hello.asm hello
"$tool" script asm steps.asm steps
"$tool" script asm spin.asm spin
"$tool" script asm saves.asm saves
"$tool" script asm copies.asm copies
"$tool" script asm sounding.asm sounding
mkdir -p fuzz
size=$(wc -c <counter.bin)
{
    printf "\\$(printf %03o $((size % 256)))\\$(printf %03o $((size / 256)))"
    cat counter.bin counter.sym
} >fuzz/counter
