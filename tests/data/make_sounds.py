#!/usr/bin/env python3
"""Writes the sound fixtures of the audio and sound resource tests into tests/data/sounds/.

pcm8_mono.wav and pcm16_stereo.wav are written by Python's wave module with sample values the
tests compute the same way (pcm8: byte i = (i * 37 + 5) % 256; pcm16: left i * 1000 - 25000,
right 30000 - i * 700). sine441.ogg is a 441 Hz sine at half of full scale, 0.5 s of 22050 Hz
mono, encoded by oggenc (Debian's vorbis-tools) at quality 2 with a fixed stream serial.
Run it from anywhere; the outputs are committed so the tests need neither Python nor oggenc.
"""

import math
import pathlib
import struct
import subprocess
import tempfile
import wave

OUT = pathlib.Path(__file__).resolve().parent / "sounds"


def write_wav(path, channels, width, rate, frames):
    with wave.open(str(path), "wb") as out:
        out.setnchannels(channels)
        out.setsampwidth(width)
        out.setframerate(rate)
        out.writeframes(frames)


def main():
    OUT.mkdir(exist_ok=True)
    write_wav(OUT / "pcm8_mono.wav", 1, 1, 22050, bytes((i * 37 + 5) % 256 for i in range(100)))
    stereo = b"".join(struct.pack("<hh", i * 1000 - 25000, 30000 - i * 700) for i in range(50))
    write_wav(OUT / "pcm16_stereo.wav", 2, 2, 11025, stereo)

    rate = 22050
    sine = b"".join(
        struct.pack("<h", round(16384 * math.sin(2 * math.pi * 441 * i / rate)))
        for i in range(rate // 2))
    with tempfile.TemporaryDirectory() as folder:
        source = pathlib.Path(folder) / "sine.wav"
        write_wav(source, 1, 2, rate, sine)
        subprocess.run(["oggenc", "-Q", "-q", "2", "-s", "441", "-o",
                        str(OUT / "sine441.ogg"), str(source)], check=True)


if __name__ == "__main__":
    main()
