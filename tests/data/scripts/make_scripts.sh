#!/bin/sh
# Assembles the script programs of this folder into their "bin" and "sym" files:
#   tests/data/scripts/make_scripts.sh build/debug/tools/quarn-tool
set -e
tool=$(realpath "$1")
cd "$(dirname "$0")"
"$tool" script asm counter.asm counter
