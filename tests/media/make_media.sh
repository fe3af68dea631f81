#!/usr/bin/env bash
# Makes the real media files the tests play, with the ffmpeg from Debian. They are generated at
# test time into the build tree (a CTest fixture), so the repository stays small.
# Usage: make_media.sh OUT_DIR
set -euo pipefail
out=${1:?usage: make_media.sh OUT_DIR}
stamp=$(sha1sum < "${BASH_SOURCE[0]}" | cut -c1-40)
mkdir -p "$out"
cd "$out"
# Made already by this very script: nothing to do.
[ "$(cat .complete 2>/dev/null)" = "$stamp" ] && exit 0

ff() { ffmpeg -nostdin -v error -y "$@"; }
pattern() { echo "testsrc2=size=${1}:rate=${2}"; }
sine() { echo "sine=frequency=${1}:sample_rate=${2}"; }

# Video, each with a short sound track. Every picture differs from its neighbours.
ff -f lavfi -i "$(pattern 320x240 25)" -f lavfi -i "$(sine 440 44100)" -t 4 \
   -c:v mpeg4 -vtag XVID -g 12 -bf 0 -q:v 4 -c:a pcm_s16le -ac 2 mpeg4_xvid_gop12.avi
ff -f lavfi -i "$(pattern 320x240 25)" -t 12 \
   -c:v mpeg4 -vtag DX50 -g 250 -bf 2 -q:v 4 mpeg4_dx50_gop250_bf2.avi
ff -f lavfi -i "$(pattern 320x240 25)" -t 12 \
   -c:v mpeg4 -vtag XVID -g 250 -bf 0 -q:v 4 mpeg4_xvid_gop250.avi
ff -f lavfi -i "$(pattern 320x240 25)" -t 4 -c:v mpeg4 -vtag DIVX -g 12 -bf 2 -q:v 4 \
   mpeg4_divx_gop12_bf2.avi
ff -f lavfi -i "$(pattern 320x240 25)" -f lavfi -i "$(sine 1000 44100)" -t 2 \
   -c:v mjpeg -q:v 5 -c:a libmp3lame -b:a 128k mjpeg_mp3.avi
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)
if grep -q libxvid <<<"$encoders"; then
  # Packed B-frames (DivX style): the last pictures of the stream cannot be decoded.
  ff -f lavfi -i "$(pattern 320x240 25)" -t 4 -c:v libxvid -bf 2 -g 12 -vtag XVID \
     xvid_packed_bf2.avi
fi
if grep -q libx264 <<<"$encoders"; then
  ff -f lavfi -i "$(pattern 320x240 25)" -t 4 -c:v libx264 -preset veryfast -g 25 -bf 2 \
     -pix_fmt yuv420p h264_bf2.avi
fi
# Sizes that are no multiple of 16, 12 frames each (the smallest scaled down from a pattern).
for size in 1x1 2x3 3x2 170x97 186x101 330x185 520x293 854x480 1366x768; do
  src=(-f lavfi -i "$(pattern 64x48 25)" -vf "scale=${size/x/:}" -frames:v 12)
  ff "${src[@]}" -c:v mpeg4 -vtag XVID -g 6 -bf 0 -q:v 4 "odd_mpeg4_$size.avi"
  ff "${src[@]}" -c:v mjpeg -q:v 5 "odd_mjpeg_$size.avi"
done
if grep -q libx264 <<<"$encoders"; then  # 4:2:0 H.264 needs even sides
  for size in 2x2 170x96 186x100 330x184 520x292 854x480 1366x768; do
    ff -f lavfi -i "$(pattern 64x48 25)" -vf "scale=${size/x/:}" -frames:v 12 -c:v libx264 \
       -preset veryfast -g 6 -bf 2 -pix_fmt yuv420p "odd_h264_$size.avi"
  done
fi
ff -f lavfi -i "$(pattern 160x120 25)" -t 1 -c:v rawvideo -pix_fmt bgr24 raw_bgr24.avi
ff -f lavfi -i "$(pattern 160x120 25)" -t 1 -c:v rawvideo -pix_fmt rgb555le raw_rgb555.avi
ff -f lavfi -i "$(pattern 160x120 25)" -t 1 -c:v rawvideo -pix_fmt pal8 raw_pal8.avi

# DV type-2 (a "dvsd" video stream beside a PCM stream), both systems.
ff -f lavfi -i "testsrc2=size=720x576:rate=25" -f lavfi -i "$(sine 440 48000)" -t 1 \
   -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 dv_type2_625.avi
ff -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -f lavfi -i "$(sine 440 48000)" -t 1 \
   -pix_fmt yuv411p -c:v dvvideo -c:a pcm_s16le -ac 2 dv_type2_525.avi
# Raw DV streams with sound, for building DV type-1 files in the tests.
ff -f lavfi -i "testsrc2=size=720x576:rate=25" -f lavfi -i "$(sine 440 48000)" -t 1 \
   -pix_fmt yuv420p -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv dv_625_48k.dv
ff -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -f lavfi -i "$(sine 440 48000)" -t 1 \
   -pix_fmt yuv411p -c:v dvvideo -c:a pcm_s16le -ac 2 -f dv dv_525_48k.dv

# Sound.
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 44100)" -t 3 -c:v mjpeg \
   -c:a libmp3lame -b:a 128k mp3_cbr.avi
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 44100)" -t 3 -c:v mjpeg \
   -c:a libmp3lame -q:a 4 mp3_vbr.avi
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 48000)" -t 3 -c:v mjpeg \
   -c:a mp2 -b:a 192k mp2.avi
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 48000)" -t 3 -c:v mjpeg \
   -c:a ac3 -ac 6 -b:a 384k ac3_51.avi
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 22050)" -t 3 -c:v mjpeg \
   -c:a pcm_u8 -ac 1 pcm8_mono_22050.avi
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 44100)" -t 3 -c:v mjpeg \
   -c:a pcm_s16le -ac 2 pcm16_stereo_44100.avi
ff -f lavfi -i "$(sine 440 22050)" -t 2 -c:a pcm_s16le -ac 1 sine_22050_mono.wav
# The same without the "LIST" of tags ffmpeg puts before "data" (a WAVE file the player opens).
ff -f lavfi -i "$(sine 440 22050)" -t 2 -c:a pcm_s16le -ac 1 -fflags +bitexact -map_metadata -1 \
   sine_22050_mono_plain.wav

echo "$stamp" > .complete
