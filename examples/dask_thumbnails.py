#!/usr/bin/env python3
"""Contact sheets of every AVI file in a folder, made across a dask.distributed cluster.

    python3 examples/dask_thumbnails.py IN_DIR OUT_DIR                      # a local cluster
    python3 examples/dask_thumbnails.py IN_DIR OUT_DIR --workers 8
    python3 examples/dask_thumbnails.py IN_DIR OUT_DIR --scheduler tcp://10.0.0.5:8786

Each file is one task: the worker probes it, reads twelve frames spread over it in one batch
and writes OUT_DIR/<name>.png. A file that cannot be read is reported with the reason and skipped.
Every worker needs avikit and the files at the same paths (a shared file system).
"""
import argparse
import sys
from pathlib import Path

import numpy as np
from dask.distributed import Client, LocalCluster

COLUMNS, ROWS, THUMB_WIDTH = 4, 3, 160


def contact_sheet(path: str, out_dir: str) -> tuple[str, str]:
    import avikit  # imported on the worker
    from PIL import Image

    try:
        reader = avikit.VideoReader(path)
    except (avikit.Error, OSError) as e:
        return path, f"skipped: {e}"
    count = min(COLUMNS * ROWS, len(reader))
    picks = np.linspace(0, len(reader) - 1, count).round().astype(int).tolist()
    frames = reader.get_batch(picks)
    height = max(1, round(THUMB_WIDTH * reader.height / reader.width))
    sheet = Image.new("RGB", (COLUMNS * THUMB_WIDTH, ROWS * height))
    for k, frame in enumerate(frames):
        thumb = Image.fromarray(frame).resize((THUMB_WIDTH, height), Image.BILINEAR)
        sheet.paste(thumb, ((k % COLUMNS) * THUMB_WIDTH, (k // COLUMNS) * height))
    target = Path(out_dir) / (Path(path).stem + ".png")
    sheet.save(target)
    return path, f"{len(reader)} frames at {reader.fps} fps -> {target}"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("in_dir")
    parser.add_argument("out_dir")
    parser.add_argument("--scheduler", help="address of a running dask scheduler")
    parser.add_argument("--workers", type=int, default=2, help="local workers (no --scheduler)")
    args = parser.parse_args()
    files = sorted(str(p) for p in Path(args.in_dir).iterdir() if p.suffix.lower() == ".avi")
    Path(args.out_dir).mkdir(parents=True, exist_ok=True)
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                               dashboard_address=None)
        client = Client(cluster)
    with client:
        for path, result in client.gather(client.map(contact_sheet, files, out_dir=args.out_dir)):
            print(f"{Path(path).name}: {result}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
