#!/usr/bin/env python3
"""Writes the seed inputs of the hostlib fuzz targets into fuzz/corpus/, from tiny streams made
by the ffmpeg tool. Run from the repository root: python3 fuzz/make_seeds.py"""
import os
import struct
import subprocess
import tempfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def ffmpeg(args, out):
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", *args, out], check=True)


def avi_video_chunks(path):
    """The video chunks of an ffmpeg AVI file, in file order."""
    data = open(path, "rb").read()
    chunks, pos = [], 12
    while pos + 8 <= len(data):
        ckid, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if ckid == b"LIST":
            pos += 12
            continue
        if ckid in (b"00dc", b"00db"):
            chunks.append(data[pos + 8:pos + 8 + size])
        pos += 8 + size + (size & 1)
    return chunks


def write(target, name, payload):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(payload)


def main():
    tmp = tempfile.mkdtemp()
    tone = ["-f", "lavfi", "-i", "sine=frequency=1000:sample_rate=44100:duration=0.15"]
    audio = {
        "mp3": tone + ["-ac", "2", "-c:a", "libmp3lame", "-b:a", "64k", "-write_xing", "0",
                       "-id3v2_version", "0", "-f", "mp3"],
        "mp2": tone + ["-ac", "1", "-c:a", "mp2", "-b:a", "64k", "-f", "mp2"],
        "ac3": ["-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=0.15",
                "-ac", "6", "-c:a", "ac3", "-b:a", "192k", "-f", "ac3"],
    }
    for i, (name, args) in enumerate(audio.items()):
        out = os.path.join(tmp, "a." + name)
        ffmpeg(args, out)
        # Byte 0: output format (44100 stereo, native, 22050 mono); byte 1: piece size.
        write("audio_decoder_fuzzer", name, bytes([[0x12, 0x00, 0x0A][i], 40]) + open(out, "rb").read())

    src = ["-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-frames:v", "5", "-g", "3"]
    video = {  # fourcc index in the fuzzer's table, encoder arguments
        "xvid": (0, ["-c:v", "mpeg4", "-bf", "1", "-vtag", "XVID"]),
        "div3": (2, ["-c:v", "msmpeg4", "-vtag", "DIV3"]),
        "mjpg": (4, ["-c:v", "mjpeg", "-q:v", "20", "-vtag", "MJPG"]),
        "h264": (5, ["-c:v", "libx264", "-bf", "2", "-vtag", "H264"]),
    }
    for name, (index, args) in video.items():
        out = os.path.join(tmp, name + ".avi")
        ffmpeg(src + args, out)
        payload = bytes([index, 0x8C])  # YV12 output, 64 x 48
        for n, chunk in enumerate(avi_video_chunks(out)):
            size = min(len(chunk), 0x7FFF)
            payload += struct.pack("<H", size | (0x8000 if n == 0 else 0)) + chunk[:size]
        write("icdecompress_fuzzer", name, payload)


if __name__ == "__main__":
    main()
