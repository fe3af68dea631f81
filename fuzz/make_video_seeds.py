#!/usr/bin/env python3
"""Writes the seeds of fuzz/video_player_fuzzer.cpp into fuzz/corpus/video_player_fuzzer/: tiny
AVI files made by the ffmpeg tool and the probe seeds, each behind an operation script.
Run from the repository root: python3 fuzz/make_video_seeds.py"""
import os
import shutil
import struct
import subprocess
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
OUT = os.path.join(ROOT, "video_player_fuzzer")

# (opcode, a, b): seek 5 exact, forward 1, image, output, key-frame mode, forward 3, reverse
# mode, forward 2, trim 1..6, timecodes, second player, copy, seek back 0, output.
SCRIPT = bytes([
    0, 5, 1, 1, 1, 0, 7, 0, 0, 8, 0, 0, 3, 1, 0, 1, 3, 0, 4, 1, 0, 1, 2, 0,
    5, 1, 6, 10, 3, 0, 16, 4, 1, 15, 0, 0, 4, 0, 0, 0, 0, 1, 8, 0, 0, 9, 0xFF, 0,
])


def seed(name, avi, yv12=False):
    script = bytes([SCRIPT[0] | (0x80 if yv12 else 0)]) + SCRIPT[1:]
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(struct.pack("<H", len(script)) + script + avi)


def main():
    os.makedirs(OUT, exist_ok=True)
    tmp = tempfile.mkdtemp()
    src = ["-f", "lavfi", "-i", "testsrc2=size=32x24:rate=25", "-frames:v", "9"]
    files = {
        "mpeg4_bframes": (["-c:v", "mpeg4", "-g", "4", "-bf", "1", "-vtag", "XVID"], True),
        "mjpeg": (["-c:v", "mjpeg", "-q:v", "20"], False),
        "raw_pal8": (["-c:v", "rawvideo", "-pix_fmt", "pal8"], False),
        "raw_rgb555": (["-c:v", "rawvideo", "-pix_fmt", "rgb555le", "-frames:v", "3"], False),
    }
    for name, (args, yv12) in files.items():
        out = os.path.join(tmp, name + ".avi")
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *src, *args, out], check=True)
        seed(name, open(out, "rb").read(), yv12)
    shutil.rmtree(tmp)
    probe = os.path.join(ROOT, "probe_fuzzer")
    for name in ("dv_type1.avi", "dv_type2_ac3.avi", "odml_segments.avi", "ten_streams.avi"):
        seed("probe_" + name.replace(".avi", ""), open(os.path.join(probe, name), "rb").read())


if __name__ == "__main__":
    main()
