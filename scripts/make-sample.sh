#!/usr/bin/env bash
# Regenerates the bundled samples (ffmpeg's output here is the same from run to run):
#   samples/sample.avi       2 s of MPEG-4 video (key frame every 12) with mono PCM sound; the
#                            tests' probe sample.
#   samples/dv_type1.avi.xz  2 s of 625/50 DV type-1 with 48 kHz stereo sound (1 kHz left,
#                            500 Hz right); the sample scripts/demo.sh plays. ffmpeg encodes the
#                            DV frames with their sound (-f dv) but writes only DV type-2 AVI
#                            files, so tools/dv_to_avi wraps the frames into the "iavs" stream.
#                            DV frames are coded alone and repeat most of each other's bytes:
#                            xz, with its large window, takes the 7.2 MB file to about 230 kB.
#                            scripts/unpack-sample.sh unpacks it.
set -euo pipefail
cd "$(dirname "$0")/.."
ff() { ffmpeg -nostdin -v error -y "$@"; }

ff -f lavfi -i "testsrc2=size=160x120:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050" -t 2 \
  -c:v mpeg4 -q:v 6 -g 12 -c:a pcm_s16le -ac 1 samples/sample.avi

cmake --preset release >/dev/null
cmake --build --preset release --target dv_to_avi >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
ff -f lavfi -i "testsrc=size=720x576:rate=25" \
  -f lavfi -i "aevalsrc=0.5*sin(2*PI*1000*t)|0.5*sin(2*PI*500*t):s=48000:c=stereo" -t 2 \
  -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv "$tmp/frames.dv"
build/release/tools/dv_to_avi "$tmp/frames.dv" "$tmp/dv_type1.avi"
xz -9e -c "$tmp/dv_type1.avi" > samples/dv_type1.avi.xz
