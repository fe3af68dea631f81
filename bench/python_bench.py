#!/usr/bin/env python3
"""avikit's Python module beside PyAV and OpenCV on the same files, one process each.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py [WORK_DIR]

Needs Debian's python3-av and python3-opencv. Makes a 640x480 MPEG-4 file of 3000 frames with a
key frame every 250 (with and without B-frames) in WORK_DIR, then times per reader:
  - 50 exact random frames: avikit r[i]; PyAV seek to the key frame before and decode forward;
    OpenCV CAP_PROP_POS_FRAMES. Each answer is checked against the frame sequential decoding
    gives, and the table says how many were the right frame.
  - the same 50 frames as one batch: avikit get_batch; the others have no batch call and fetch
    them one at a time in file order.
  - sequential iteration of every frame to a numpy array.
Each reader runs ROUNDS times in a process of its own, interleaved with the others, after an
untimed pass of avikit that gives the frames its answers are checked against. A cell gives the
best wall-clock time of the rounds and the least CPU time (all the process's threads): the
machine is shared, and the best round is the one least disturbed; the fewest right frames.
"""
import json
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


ROUNDS = 4


def clock():
    return time.perf_counter(), time.process_time()


def since(start, count):
    wall, cpu = clock()
    return ((wall - start[0]) / count * 1000, (cpu - start[1]) / count * 1000)


def timed(fn, picks):
    start = clock()
    out = [fn(i) for i in picks]
    return since(start, len(picks)), out


def reference(path, keep):
    """The frames sequential decoding gives, by avikit, untimed."""
    return {i: f for i, f in enumerate(avikit.VideoReader(str(path))) if i in keep}


def seq_avikit(path):
    reader = avikit.VideoReader(str(path))
    start = clock()
    n = sum(1 for f in reader if f is not None)
    return since(start, n)


def seq_pyav(path):
    with av.open(str(path)) as c:
        start = clock()
        n = sum(1 for f in c.decode(video=0) if f.to_ndarray(format="rgb24") is not None)
        return since(start, n)


def seq_opencv(path):
    cap = cv2.VideoCapture(str(path))
    start = clock()
    n = 0
    while True:
        ok, frame = cap.read()
        if not ok:
            break
        cv2.cvtColor(frame, cv2.COLOR_BGR2RGB)
        n += 1
    return since(start, max(n, 1))


def nearest(got, truth, i, count):
    """Whether `got` is nearest to frame i of the frames around it (other readers convert with
    their own scaler, so their bytes differ)."""
    if got is None:
        return False
    around = range(max(0, i - 2), min(count, i + 3))
    return int(np.argmin([np.abs(got.astype(int) - truth[j].astype(int)).mean()
                          for j in around])) == i - around.start


def rand_avikit(path, picks, truth):
    reader = avikit.VideoReader(str(path))
    t, got = timed(lambda i: reader[i], picks)
    return t, sum(np.array_equal(g, truth[i]) for g, i in zip(got, picks))


def batch_avikit(path, picks, truth):
    reader = avikit.VideoReader(str(path))
    start = clock()
    got = reader.get_batch(picks)
    return since(start, len(picks)), sum(np.array_equal(g, truth[i]) for g, i in zip(got, picks))


def rand_pyav(path, picks, truth, count):
    with av.open(str(path)) as c:
        s = c.streams.video[0]
        t, got = timed(lambda i: pyav_frame(c, s, i), picks)
    return t, sum(nearest(g, truth, i, count) for g, i in zip(got, picks))


def rand_opencv(path, picks, truth, count):
    cap = cv2.VideoCapture(str(path))

    def cv_frame(i):
        cap.set(cv2.CAP_PROP_POS_FRAMES, i)
        ok, f = cap.read()
        return cv2.cvtColor(f, cv2.COLOR_BGR2RGB) if ok else None
    t, got = timed(cv_frame, picks)
    return t, sum(nearest(g, truth, i, count) for g, i in zip(got, picks))


def one(reader: str, path: Path) -> dict:
    """One reader's three jobs, in this process: {job: [wall ms, cpu ms, right frames]}."""
    count = len(avikit.VideoReader(str(path)))
    picks = random.Random(50).sample(range(count), 50)
    # The random fetches are checked against these frames and their neighbours.
    keep = {j for i in picks for j in range(max(0, i - 2), min(count, i + 3))}
    truth = reference(path, keep)
    out = {}
    if reader == "avikit":
        out["seq"] = [*seq_avikit(path), None]
        for job, fetch in (("rand", rand_avikit), ("batch", batch_avikit)):
            t, ok = fetch(path, picks, truth)
            out[job] = [*t, ok]
    elif reader == "PyAV":
        out["seq"] = [*seq_pyav(path), None]
        for job, order in (("rand", picks), ("batch", sorted(picks))):
            t, ok = rand_pyav(path, order, truth, count)
            out[job] = [*t, ok]
    else:
        out["seq"] = [*seq_opencv(path), None]
        for job, order in (("rand", picks), ("batch", sorted(picks))):
            t, ok = rand_opencv(path, order, truth, count)
            out[job] = [*t, ok]
    return out


def main() -> None:
    if sys.argv[1:2] == ["--one"]:
        print(json.dumps(one(sys.argv[2], Path(sys.argv[3]))))
        return
    work = Path(sys.argv[1] if len(sys.argv) > 1 else "/tmp/avikit-python-bench")
    work.mkdir(parents=True, exist_ok=True)
    readers = ["avikit"] + (["PyAV"] if av is not None else []) + (
        ["OpenCV"] if cv2 is not None else [])
    print("| file | job | avikit | PyAV | OpenCV |")
    print("|---|---|---|---|---|")
    for bf in (0, 2):
        path = work / f"mpeg4_640x480_gop250_bf{bf}.avi"
        make(path, bf)
        cells = {}  # (job, reader) -> [wall, cpu, right]: each the best of the rounds
        for _ in range(ROUNDS):
            for reader in readers:
                run = subprocess.run([sys.executable, __file__, "--one", reader, str(path)],
                                     check=True, capture_output=True, text=True)
                for job, got in json.loads(run.stdout.splitlines()[-1]).items():
                    old = cells.setdefault((job, reader), got)
                    cells[(job, reader)] = [min(old[0], got[0]), min(old[1], got[1]),
                                            None if got[2] is None else min(old[2], got[2])]
        name = f"640x480 MPEG-4, GOP 250, {'B-frames' if bf else 'no B-frames'}"
        for job, label in (("rand", "50 random frames"), ("batch", "the 50 as one batch"),
                           ("seq", "sequential")):
            row = []
            for reader in ("avikit", "PyAV", "OpenCV"):
                c = cells.get((job, reader))
                row.append("-" if c is None else f"{c[0]:.2f}, cpu {c[1]:.2f}" + (
                    "" if c[2] is None else f" ({c[2]}/50)"))
            print(f"| {name} | {label}, ms a frame, cpu ms | " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
