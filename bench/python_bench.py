#!/usr/bin/env python3
"""avikit's Python module beside PyAV and OpenCV on the same files, one process, one run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py [WORK_DIR]

Needs Debian's python3-av and python3-opencv. Makes a 640x480 MPEG-4 file of 3000 frames with a
key frame every 250 (with and without B-frames) in WORK_DIR, then times per reader:
  - 50 exact random frames: avikit r[i]; PyAV seek to the key frame before and decode forward;
    OpenCV CAP_PROP_POS_FRAMES. Each answer is checked against the frame sequential decoding
    gives, and the table says how many were the right frame.
  - sequential iteration of every frame to a numpy array.
"""
import random
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

import avikit

try:
    import av
except ImportError:
    av = None
try:
    import cv2
except ImportError:
    cv2 = None


def make(path: Path, bframes: int) -> None:
    if path.exists():
        return
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=640x480:rate=25", "-frames:v", "3000", "-c:v", "mpeg4",
                    "-vtag", "XVID", "-g", "250", "-bf", str(bframes), "-q:v", "4", str(path)],
                   check=True)


def pyav_frame(container, stream, index: int) -> np.ndarray:
    # PyAV seeks by time stamp to the key frame at or before it, then decodes forward.
    pts = int(index / (stream.average_rate * stream.time_base))
    container.seek(pts, stream=stream, backward=True)
    for frame in container.decode(stream):
        if frame.pts is not None and frame.pts >= pts:
            return frame.to_ndarray(format="rgb24")
    raise RuntimeError("past the end")


def timed(fn, picks):
    start = time.perf_counter()
    out = [fn(i) for i in picks]
    return (time.perf_counter() - start) / len(picks) * 1000, out


def main() -> None:
    work = Path(sys.argv[1] if len(sys.argv) > 1 else "/tmp/avikit-python-bench")
    work.mkdir(parents=True, exist_ok=True)
    print("| file | job | avikit | PyAV | OpenCV |")
    print("|---|---|---|---|---|")
    for bf in (0, 2):
        path = work / f"mpeg4_640x480_gop250_bf{bf}.avi"
        make(path, bf)
        reader = avikit.VideoReader(str(path))
        count = len(reader)
        picks = random.Random(50).sample(range(count), 50)
        # Sequential iteration, keeping only the frames the random fetches are checked against
        # (and their neighbours): every reader converts each frame to a new array.
        keep = {j for i in picks for j in range(max(0, i - 2), min(count, i + 3))}
        truth = {}
        start = time.perf_counter()
        for i, f in enumerate(reader):
            if i in keep:
                truth[i] = f
        seq = {"avikit": (time.perf_counter() - start) / count * 1000}
        if av is not None:
            with av.open(str(path)) as c:
                start = time.perf_counter()
                n = sum(1 for f in c.decode(video=0) if f.to_ndarray(format="rgb24") is not None)
                seq["PyAV"] = (time.perf_counter() - start) / n * 1000
        if cv2 is not None:
            cap = cv2.VideoCapture(str(path))
            start = time.perf_counter()
            n = 0
            while True:
                ok, frame = cap.read()
                if not ok:
                    break
                cv2.cvtColor(frame, cv2.COLOR_BGR2RGB)
                n += 1
            seq["OpenCV"] = (time.perf_counter() - start) / max(n, 1) * 1000
        rows = {}
        ms, got = timed(lambda i: reader[i], picks)
        rows["avikit"] = (ms, sum(np.array_equal(g, truth[i]) for g, i in zip(got, picks)))
        if av is not None:
            with av.open(str(path)) as c:
                s = c.streams.video[0]
                ms, got = timed(lambda i: pyav_frame(c, s, i), picks)
            # PyAV converts with its own scaler: a frame counts as right when it is nearest
            # to the true frame of all the frames around it.
            right = sum(int(np.argmin([np.abs(g.astype(int) - truth[j].astype(int)).mean()
                                       for j in range(max(0, i - 2), min(count, i + 3))])
                            == i - max(0, i - 2)) for g, i in zip(got, picks))
            rows["PyAV"] = (ms, right)
        if cv2 is not None:
            cap = cv2.VideoCapture(str(path))

            def cv_frame(i):
                cap.set(cv2.CAP_PROP_POS_FRAMES, i)
                ok, f = cap.read()
                return cv2.cvtColor(f, cv2.COLOR_BGR2RGB) if ok else None
            ms, got = timed(cv_frame, picks)
            right = sum(int(g is not None and np.argmin(
                [np.abs(g.astype(int) - truth[j].astype(int)).mean()
                 for j in range(max(0, i - 2), min(count, i + 3))]) == i - max(0, i - 2))
                for g, i in zip(got, picks))
            rows["OpenCV"] = (ms, right)

        def cell(d, k, fmt):
            return fmt(d[k]) if k in d else "-"
        name = f"640x480 MPEG-4, GOP 250, {'B-frames' if bf else 'no B-frames'}"
        print(f"| {name} | 50 random frames, ms each (right frame of 50) | " + " | ".join(
            cell(rows, k, lambda v: f"{v[0]:.1f} ({v[1]}/50)") for k in ("avikit", "PyAV", "OpenCV")) + " |")
        print(f"| {name} | sequential, ms a frame | " + " | ".join(
            cell(seq, k, lambda v: f"{v:.2f}") for k in ("avikit", "PyAV", "OpenCV")) + " |")


if __name__ == "__main__":
    main()
