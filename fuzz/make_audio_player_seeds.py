#!/usr/bin/env python3
"""Writes the seeds of audio_player_fuzzer into fuzz/corpus/audio_player_fuzzer/: an operation
script in front of small files the repository already holds (AVI files with PCM, MP3 and AC-3
sound, DV type-1 index files, a WAVE file), and "DV1" inputs that the fuzzer expands into DV
type-1 files with sound. Run from the repository root: python3 fuzz/make_audio_player_seeds.py"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "audio_player_fuzzer")
FILES = [
    os.path.join(HERE, "..", "tests", "data", "mjpeg_mp3.avi"),
    os.path.join(HERE, "..", "tests", "data", "mpeg4_ac3.avi"),
    os.path.join(HERE, "..", "tests", "data", "mpeg4_pcm.avi"),
    os.path.join(HERE, "corpus", "probe_fuzzer", "dv_type1.avi"),
    os.path.join(HERE, "corpus", "probe_fuzzer", "dv_type2_ac3.avi"),
    os.path.join(HERE, "corpus", "probe_fuzzer", "pcm.wav"),
    os.path.join(HERE, "corpus", "probe_fuzzer", "ten_streams.avi"),
]

# (code, a, b): 0 pull, 1 seek, 2 shift, 3 output, 4 stream, 5 volume, 6 close, 7 open, 8 copy,
# 9 assign. See audio_player_fuzzer.cpp.
SCRIPT = [
    (0, 0, 3), (3, 5, 2), (0, 0, 2), (1, 140, 0), (0, 0, 1), (2, 0xF0, 0), (1, 128, 0),
    (0, 0, 6), (5, 32, 128), (0, 0, 1), (4, 2, 0), (0, 0, 1), (8, 0, 2), (6, 0, 0), (7, 0, 0),
    (3, 1, 1), (0, 0, 3),
]


def script(ops):
    return bytes([len(ops)]) + b"".join(bytes(op) for op in ops)


def dv_slice(frequency, extra, quant, fifty):
    """Bytes from 12240 on: the 50-field flag at 12246, the audio source pack at 12484 and 12487,
    then the first samples (big-endian pairs of a rising ramp)."""
    s = bytearray(300)
    s[6] = 0x20 if fifty else 0
    s[244] = extra & 0x3F
    s[247] = (frequency << 3) | quant
    for i in range(248, 300, 2):
        struct.pack_into(">h", s, i, (i - 248) * 300)
    return bytes(s)


def main():
    os.makedirs(OUT, exist_ok=True)
    for path in FILES:
        with open(path, "rb") as f:
            data = f.read()
        name = os.path.basename(path)
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(script(SCRIPT) + data)
    dv_cases = {
        "dv1_625_16bit": (0x0B, dv_slice(0, 24, 0, True)),
        "dv1_625_12bit": (0x0B, dv_slice(2, 40, 1, True)),
        "dv1_525_short_chunk": (0x20 | 0x40 | 0x0B, dv_slice(0, 2, 0, False)),
        "dv1_unknown_frequency": (0x03, dv_slice(5, 63, 0, True)),
    }
    for name, (flags, piece) in dv_cases.items():
        frames = (flags & 0x1F) + 1
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(script(SCRIPT) + b"DV1" + bytes([flags]) + piece * frames)


if __name__ == "__main__":
    main()
