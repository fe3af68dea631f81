#!/usr/bin/env bash
# Regenerates samples/sample.avi: 2 s of MPEG-4 video (key frame every 12) with mono PCM sound.
set -euo pipefail
cd "$(dirname "$0")/.."
ffmpeg -v error -y -f lavfi -i "testsrc2=size=160x120:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050" -t 2 \
  -c:v mpeg4 -q:v 6 -g 12 -c:a pcm_s16le -ac 1 samples/sample.avi
