"""The Python module against the real files of the tests and the avikit tool."""
import json
import os
import pickle
import random
import subprocess
import sys
import threading
from pathlib import Path

import numpy as np
import pytest

import avikit

MEDIA = Path(os.environ["AVIKIT_MEDIA"])
CLI = os.environ["AVIKIT_CLI"]
ROOT = Path(__file__).resolve().parents[2]
XVID, V, A = "mpeg4_xvid_gop12.avi", avikit.VideoReader, avikit.AudioReader


def media(name):
    path = MEDIA / name
    if not path.exists():
        pytest.skip(f"{name} was not made (encoder missing)")
    return str(path)


# Random access equals sequential playback for every codec in the C++ tests; here, that the
# module's indexing, batches and slices keep it (a B-frame stream, a raw one, an odd size).
@pytest.mark.parametrize("name", ["mpeg4_dx50_gop250_bf2.avi", "raw_pal8.avi",
                                  "odd_mpeg4_170x97.avi"])
def test_any_order_gives_the_frames_of_sequential_iteration(name):
    r = V(media(name))
    frames = list(r)
    assert len(frames) == len(r) and frames[0].shape == (r.height, r.width, 3)
    order = list(range(len(r)))
    random.Random(7).shuffle(order)
    assert all(np.array_equal(r[i], frames[i]) for i in order[:40])
    picks = order[:12] + order[:3]
    assert all(np.array_equal(got, frames[i]) for got, i in zip(r.get_batch(picks), picks))
    assert np.array_equal(r[-1], frames[-1])
    assert np.array_equal(r[1:9:3], np.stack(frames[1:9:3]))


@pytest.mark.parametrize("name", ["mpeg4_xvid_gop250.avi", "odd_h264_854x480.avi",
                                  "odd_mpeg4_170x97.avi", "raw_rgb555.avi"])
def test_frames_are_the_tools_frames_byte_for_byte(name, tmp_path):
    r = V(media(name), format="dib")
    out = tmp_path / "f.raw"
    subprocess.run([CLI, "frames", media(name), "--start", "5", "--count", "3", "-o", str(out)],
                   check=True, capture_output=True)
    assert out.read_bytes() == r.get_batch([5, 6, 7]).tobytes()
    # The packed layouts: the tool's bottom-up rows turned over, padding dropped.
    dib = np.frombuffer(out.read_bytes(), np.uint8).reshape(3, r.height, -1)[1, ::-1]
    bgr = dib[:, :r.width * 3].reshape(r.height, r.width, 3)
    for layout, want in (("bgr24", bgr), ("rgb24", bgr[:, :, ::-1])):
        assert np.array_equal(V(media(name), format=layout)[6], want), layout
    assert V(media(name), format="gray")[6].shape == (r.height, r.width)


def test_stream_facts():
    r = V(media("mpeg4_xvid_gop250.avi"))
    assert (len(r), r.fps, r.duration, r.key_frames, r.fourcc) == (300, 25, 12.0, [0, 250], "XVID")
    assert str(V(media("dv_type2_525.avi")).fps) == "30000/1001"


def unknown_fourcc():
    """A good file in memory but for a FOURCC nobody decodes."""
    data = Path(media(XVID)).read_bytes()
    movi = data.index(b"movi")
    return data[:movi].replace(b"XVID", b"ZZZZ").replace(b"xvid", b"ZZZZ") + data[movi:]


@pytest.mark.parametrize("call,error,says", [
    (lambda: V("/nonexistent.avi"), FileNotFoundError, "No such file"),
    (lambda: V("/"), IsADirectoryError, "Is a directory"),
    (lambda: V(str(ROOT / "README.md")), avikit.Error, "not a RIFF AVI or WAVE file"),
    (lambda: V(media("sine_22050_mono_plain.wav")), avikit.Error, "no video stream"),
    (lambda: V(unknown_fourcc()), avikit.Error, "no decoder for the video \\('ZZZZ'\\)"),
    (lambda: V(media(XVID))[100], IndexError, "0..99"),
    (lambda: V(media(XVID)).get_batch([5, 50, -101]), IndexError, "-101"),
    (lambda: V(media(XVID), format="rgb48"), ValueError, "rgb48"),
    (lambda: A(media("pcm16_stereo_44100.avi"), rate=96000), ValueError, "96000"),
    (lambda: V(b"RIFF\0\0\0\0AVI "), avikit.Error, "in memory: .*RIFF header"),
    (lambda: A(bytearray(b"x" * 100)), avikit.Error, "not a RIFF AVI or WAVE"),
])
def test_errors_say_why(call, error, says):
    with pytest.raises(error, match=says):
        call()


# A file given as bytes reads as the file itself, also once pickled (which carries the bytes).
@pytest.mark.parametrize("name,wrap", [("mp3_cbr.avi", bytes), ("h264_bf2.avi", bytearray),
                                       ("sine_22050_mono_plain.wav", memoryview)])
def test_bytes_read_as_their_file(name, wrap):
    data = wrap(Path(media(name)).read_bytes())
    if not name.endswith(".wav"):
        v = pickle.loads(pickle.dumps(V(data)))
        assert np.array_equal(v.get_batch(range(len(v))), V(media(name)).get_batch(range(len(v))))
    if name != "h264_bf2.avi":
        assert np.array_equal(A(data).read(), A(media(name)).read())


def test_decoding_releases_the_gil():
    r = V(media("odd_h264_1366x768.avi"))
    worker = threading.Thread(target=lambda: [r.get_batch(list(range(len(r)))) for _ in range(3)])
    ticks = 0
    worker.start()
    while worker.is_alive():
        ticks += 1
    # With the GIL held for a whole batch this thread would barely run at all.
    assert ticks > 10000


def test_readers_pickle_by_path_and_position():
    r = V(media("mpeg4_dx50_gop250_bf2.avi"), format="bgr24")
    r.seek(100)
    copy = pickle.loads(pickle.dumps(r))
    assert (copy.path, copy.format, copy.position) == (r.path, "bgr24", 100)
    assert np.array_equal(next(copy), r[100])
    a = pickle.loads(pickle.dumps(A(media("pcm16_stereo_44100.avi"), 16000, 1)))
    assert (a.rate, a.channels) == (16000, 1)


@pytest.mark.parametrize("name,rate,channels", [
    ("pcm16_stereo_44100.avi", 0, 0), ("sine_22050_mono_plain.wav", 16000, 1),
    ("pcm8_mono_22050.avi", 48000, 2)])
def test_sound_is_exact_and_any_slice_equals_the_whole(name, rate, channels):
    a = A(media(name), rate=rate, channels=channels)
    whole = a.read()
    assert whole.shape == (round(a.duration * a.rate), a.channels) and whole.dtype == np.int16
    if rate == 0:  # the stream's own rate and channels: ffmpeg's samples exactly
        ref = subprocess.run(["ffmpeg", "-v", "error", "-i", media(name), "-map", "0:a",
                              "-f", "s16le", "-"], check=True, capture_output=True).stdout
        assert whole.tobytes() == ref
    rng = random.Random(3)
    for _ in range(20):
        start, count = rng.randrange(len(whole) - 100), rng.randrange(1, 3000)
        assert np.array_equal(a.read(start, count), whole[start:start + count])
    assert np.allclose(a.read(0, 50, dtype="float32"), whole[:50] / 32768.0)


@pytest.mark.parametrize("name", [XVID, "dv_type2_525.avi", "mp3_cbr.avi"])
def test_probe_is_the_tools_json(name):
    tool = json.loads(subprocess.run([CLI, "probe", "--json", media(name)], check=True,
                                     capture_output=True, text=True).stdout)
    assert avikit.probe(media(name)) == tool


def test_dask_example_makes_a_sheet_of_every_file(tmp_path):
    pytest.importorskip("distributed")
    Image = pytest.importorskip("PIL.Image")
    folder = tmp_path / "in"
    folder.mkdir()
    names = [XVID, "mjpeg_mp3.avi", "dv_type2_625.avi"]
    for n in names:
        (folder / n).symlink_to(media(n))
    (folder / "broken.avi").write_bytes(b"RIFF\x04\x00\x00\x00AVI ")
    out = tmp_path / "out"
    run = subprocess.run([sys.executable, str(ROOT / "examples/dask_thumbnails.py"), str(folder),
                          str(out), "--workers", "2"], capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    assert all(min(Image.open(out / (Path(n).stem + ".png")).size) > 0 for n in names)
    assert "broken.avi" in run.stdout and not (out / "broken.png").exists()
