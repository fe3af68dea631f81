#!/usr/bin/env bash
# Installs the dependencies, builds avikit and runs it on the bundled sample: 2 s of 625/50 DV
# type-1 video with 48 kHz stereo sound (scripts/make-sample.sh made it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target avikit_cli avikit_python
# The library, the tool and the Python module under /usr/local, where Debian's python3 finds the
# module: `python3 -c "import avikit"` works from here on.
cmake --install build/release >/dev/null
sample=$(bash scripts/unpack-sample.sh)
avikit=./build/release/cli/avikit
mkdir -p out

echo "== avikit probe $sample"
$avikit probe "$sample"

# A contact sheet of the sample's frames, each with its timecode:
echo "== avikit sheet $sample -o out/sheet.png"
$avikit sheet "$sample" -o out/sheet.png

# The sample's sound as a WAVE file, through the audio player:
echo "== avikit audio $sample -o out/sound.wav"
$avikit audio "$sample" -o out/sound.wav

# The same file from Python: frame 25 as a numpy array.
echo "== python3: avikit.VideoReader('$sample')[25]"
/usr/bin/python3 -c "import avikit; r = avikit.VideoReader('$sample'); print(len(r), r.fps, r[25].shape)"
