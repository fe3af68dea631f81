#!/usr/bin/env bash
# Adds real ffmpeg files to fuzz/corpus/probe_fuzzer/ (beside the RIFF-writer seeds), each a few
# kB: tiny pictures, a fifth of a second, so the fuzzer starts from what writers really emit.
# Run from the repository root: bash fuzz/make_probe_seeds.sh
set -euo pipefail
out=fuzz/corpus/probe_fuzzer
ff() { ffmpeg -nostdin -v error -y "$@"; }
src=(-f lavfi -i "testsrc2=size=32x24:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=22050")
ff "${src[@]}" -t 0.2 -c:v mjpeg -q:v 8 -c:a libmp3lame -b:a 32k -ac 1 -fflags +bitexact -map_metadata -1 \
   "$out/ffmpeg_mjpeg_mp3.avi"
ff "${src[@]}" -t 0.2 -c:v mpeg4 -vtag XVID -g 3 -q:v 8 -c:a pcm_s16le -ac 1 -fflags +bitexact \
   -map_metadata -1 "$out/ffmpeg_mpeg4_pcm.avi"
ff "${src[@]}" -t 0.2 -c:v rawvideo -pix_fmt pal8 -c:a pcm_u8 -ac 1 -fflags +bitexact \
   -map_metadata -1 "$out/ffmpeg_pal8_u8.avi"
