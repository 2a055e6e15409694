#!/usr/bin/env python3
"""Writes hum.wav, the example game's looping sound: a soft two-note hum, 0.5 s of 11025 Hz
16-bit mono, whose notes (220 Hz and 330 Hz) end on whole cycles so that the loop has no click.
Run it from anywhere; the sound is committed so that the game needs no Python.
"""

import math
import pathlib
import struct
import wave

RATE = 11025
FRAMES = RATE // 2


def sample(i):
    t = i / RATE
    return round(6000 * math.sin(2 * math.pi * 220 * t) + 3000 * math.sin(2 * math.pi * 330 * t))


def main():
    out = pathlib.Path(__file__).resolve().parent / "hum.wav"
    with wave.open(str(out), "wb") as wav:
        wav.setnchannels(1)
        wav.setsampwidth(2)
        wav.setframerate(RATE)
        wav.writeframes(b"".join(struct.pack("<h", sample(i)) for i in range(FRAMES)))


if __name__ == "__main__":
    main()
