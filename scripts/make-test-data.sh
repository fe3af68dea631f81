#!/usr/bin/env bash
# Regenerates the small real AVI files under tests/data/ with ffmpeg. Each is listed, with what
# it covers, in tests/data/README.md. ffmpeg writes idx1 only below 1 GB: it turns its reserved
# "indx" space into OpenDML indexes only once a second RIFF segment begins, so the OpenDML check
# on an ffmpeg file (tests/container/real_files_test.cpp) makes its 1 GB file when it runs.
set -euo pipefail
cd "$(dirname "$0")/../tests/data"
ff() { ffmpeg -v error -y -bitexact "$@"; }

# MPEG-4 part 2 video, key frame every 6, with mono 16-bit PCM at 22050 Hz.
ff -f lavfi -i "testsrc2=size=64x48:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=22050" \
  -t 0.48 -c:v mpeg4 -q:v 10 -g 6 -c:a pcm_s16le -ac 1 -fflags +bitexact mpeg4_pcm.avi

# Motion JPEG (every frame a key frame) with MPEG layer-3 sound.
ff -f lavfi -i "testsrc2=size=64x48:rate=10" -f lavfi -i "sine=frequency=440:sample_rate=44100" \
  -t 0.5 -c:v mjpeg -q:v 20 -c:a libmp3lame -b:a 32k -ac 1 mjpeg_mp3.avi

# DV type-2: a "vids" stream of 525/60 DV frames ("dvsd") beside a PCM "auds" stream.
ff -f lavfi -i "color=c=gray:size=720x480:rate=30000/1001" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 0.067 \
  -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -ac 2 dv_type2.avi
gzip -9 -n -f dv_type2.avi  # 263 kB of flat DV frames; the tests unpack it

# MPEG-4 with stereo AC-3 sound (more channels would make ffmpeg write WAVE_FORMAT_EXTENSIBLE).
ff -f lavfi -i "testsrc2=size=32x32:rate=25" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000" -t 0.4 \
  -c:v mpeg4 -q:v 20 -g 5 -c:a ac3 -b:a 96k -ac 2 mpeg4_ac3.avi
