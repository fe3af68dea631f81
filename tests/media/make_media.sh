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

# Video. Every picture differs from its neighbours.
mpeg4() { ff -f lavfi -i "$(pattern 320x240 25)" "${@:2}" -c:v mpeg4 -q:v 4 "$1"; }
mpeg4 mpeg4_xvid_gop12.avi -f lavfi -i "$(sine 440 44100)" -t 4 -vtag XVID -g 12 -bf 0 \
   -c:a pcm_s16le -ac 2
mpeg4 mpeg4_dx50_gop250_bf2.avi -t 12 -vtag DX50 -g 250 -bf 2
mpeg4 mpeg4_xvid_gop250.avi -t 12 -vtag XVID -g 250 -bf 0
mpeg4 mpeg4_divx_gop12_bf2.avi -t 4 -vtag DIVX -g 12 -bf 2
ff -f lavfi -i "$(pattern 320x240 25)" -f lavfi -i "$(sine 1000 44100)" -t 2 \
   -c:v mjpeg -q:v 5 -c:a libmp3lame -b:a 128k mjpeg_mp3.avi
encoders=$(ffmpeg -hide_banner -encoders 2>/dev/null)
if grep -q libxvid <<<"$encoders"; then
  # Packed B-frames (DivX style): the last pictures of the stream cannot be decoded.
  ff -f lavfi -i "$(pattern 320x240 25)" -t 4 -c:v libxvid -bf 2 -g 12 -vtag XVID \
     xvid_packed_bf2.avi
fi
# Sizes that are no multiple of 16, 12 frames each (the smallest scaled down from a pattern).
for size in 1x1 2x3 3x2 170x97 186x101 330x185 520x293 854x480 1366x768; do
  src=(-f lavfi -i "$(pattern 64x48 25)" -vf "scale=${size/x/:}" -frames:v 12)
  ff "${src[@]}" -c:v mpeg4 -vtag XVID -g 6 -bf 0 -q:v 4 "odd_mpeg4_$size.avi"
  ff "${src[@]}" -c:v mjpeg -q:v 5 "odd_mjpeg_$size.avi"
done
if grep -q libx264 <<<"$encoders"; then
  ff -f lavfi -i "$(pattern 320x240 25)" -t 4 -c:v libx264 -preset veryfast -g 25 -bf 2 \
     -pix_fmt yuv420p h264_bf2.avi
  # Streams tagged BT.709: their colours follow the tag.
  ff -f lavfi -i "$(pattern 320x240 25)" -t 2 -c:v libx264 -preset veryfast -g 25 -bf 2 \
     -pix_fmt yuv420p -colorspace bt709 -color_primaries bt709 -color_trc bt709 \
     -x264-params colorprim=bt709:transfer=bt709:colormatrix=bt709 h264_bt709.avi
  for size in 2x2 170x96 186x100 330x184 520x292 854x480 1366x768; do
    ff -f lavfi -i "$(pattern 64x48 25)" -vf "scale=${size/x/:}" -frames:v 12 -c:v libx264 \
       -preset veryfast -g 6 -bf 2 -pix_fmt yuv420p "odd_h264_$size.avi"  # even sides for 4:2:0
  done
fi
for fmt in bgr24 rgb555le pal8; do
  ff -f lavfi -i "$(pattern 160x120 25)" -t 1 -c:v rawvideo -pix_fmt "$fmt" "raw_${fmt%le}.avi"
done

# DV type-2 (a "dvsd" video stream beside a PCM stream), and raw DV streams with sound for
# building DV type-1 files in the tests; both systems.
dv() { ff -f lavfi -i "$(pattern "$1" "$2")" -f lavfi -i "$(sine 440 48000)" -t 1 -pix_fmt "$3" \
   -c:v dvvideo -c:a pcm_s16le -ac 2 "${@:4}"; }
dv 720x576 25 yuv420p dv_type2_625.avi
dv 720x480 30000/1001 yuv411p dv_type2_525.avi
dv 720x576 25 yuv420p -f dv dv_625_48k.dv
dv 720x480 30000/1001 yuv411p -f dv dv_525_48k.dv

# Sound, beside three seconds of small MJPEG pictures.
mjpeg_with() {
  ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 "$1")" -t 3 -c:v mjpeg "${@:2}"
}
mjpeg_with 44100 -c:a libmp3lame -b:a 128k mp3_cbr.avi
mjpeg_with 44100 -c:a libmp3lame -q:a 4 mp3_vbr.avi
mjpeg_with 48000 -c:a mp2 -b:a 192k mp2.avi
mjpeg_with 48000 -c:a ac3 -ac 6 -b:a 384k ac3_51.avi
mjpeg_with 22050 -c:a pcm_u8 -ac 1 pcm8_mono_22050.avi
mjpeg_with 44100 -c:a pcm_s16le -ac 2 pcm16_stereo_44100.avi
ff -f lavfi -i "$(sine 440 22050)" -t 2 -c:a pcm_s16le -ac 1 sine_22050_mono.wav
# The same without the "LIST" of tags ffmpeg puts before "data" (a WAVE file the player opens).
ff -f lavfi -i "$(sine 440 22050)" -t 2 -c:a pcm_s16le -ac 1 -fflags +bitexact -map_metadata -1 \
   sine_22050_mono_plain.wav

# --- Sound in every format libavcodec decodes from AVI and WAVE, from ffmpeg and from independent
# writers (GStreamer, sox, mencoder, Python's wave). Each row is skipped when its writer is
# missing; tests/audio/real_media_test.cpp lists the files.
tone() { ff -f lavfi -i "$(sine 440 "$1")" -t 2 "${@:2}"; }
tone 44100 -c:a pcm_s24le -ac 2 snd_ff_s24.wav
tone 44100 -c:a pcm_s32le -ac 2 snd_ff_s32.wav
tone 44100 -c:a pcm_f32le -ac 2 snd_ff_f32.wav
tone 48000 -c:a pcm_f64le -ac 1 snd_ff_f64.wav
tone 8000 -c:a pcm_alaw -ac 1 snd_ff_alaw.wav
tone 8000 -c:a pcm_mulaw -ac 1 snd_ff_mulaw.avi
tone 22050 -c:a adpcm_ms -ac 2 snd_ff_adpcm_ms.wav
tone 22050 -c:a adpcm_ima_wav -ac 1 snd_ff_adpcm_ima.avi
tone 48000 -c:a pcm_s16le -ac 6 snd_ff_s16_6ch.wav  # WAVE_FORMAT_EXTENSIBLE
tone 44100 -c:a mp2 -ac 2 snd_ff_mp2.wav
tone 8000 -c:a adpcm_g726 -ac 1 snd_ff_g726.wav
for rate in 11024 16000 22100 96000; do tone "$rate" -c:a pcm_s16le -ac 1 "snd_ff_s16_$rate.avi"; done
ff -f lavfi -i "$(pattern 160x120 25)" -f lavfi -i "$(sine 440 48000)" -t 2 -c:v mjpeg \
   -c:a ac3 -ac 2 -b:a 192k snd_ff_ac3_stereo.avi
tone 44100 -c:a pcm_s16le -ac 1 -f wav - > snd_ff_piped.wav  # sizes left unset
tone 44100 -c:a pcm_s16le -ac 1 -f wav -rf64 never -write_bext 1 snd_ff_bext.wav
if command -v sox >/dev/null; then
  so() { sox -D -n -r "$1" -c "$2" "${@:3}" synth 2 sine 440 vol 0.5; }
  so 11127 1 -b 8 snd_sox_u8_11127.wav
  so 44100 2 -b 24 snd_sox_s24.wav
  so 8000 1 -e a-law snd_sox_alaw.wav
  so 8000 1 -e u-law snd_sox_mulaw.wav
  so 22050 1 -e ima-adpcm snd_sox_ima.wav
  so 22050 2 -e ms-adpcm snd_sox_ms.wav
  so 32000 2 -e floating-point -b 32 snd_sox_f32.wav
  so 48000 6 -b 16 snd_sox_6ch.wav
fi
if command -v gst-launch-1.0 >/dev/null; then
  gst() { gst-launch-1.0 -q "$@" >/dev/null; }
  gst audiotestsrc num-buffers=40 samplesperbuffer=1024 ! audio/x-raw,format=S16LE,rate=22100,channels=2 \
      ! wavenc ! filesink location=snd_gst_s16_22100.wav || true
  # avimux writes its index only beside a video stream.
  gstavi() {
    gst -e videotestsrc num-buffers=50 ! video/x-raw,width=160,height=120,framerate=25/1 \
        ! jpegenc ! avimux name=m ! filesink location="$1" audiotestsrc num-buffers=80 \
        samplesperbuffer=1152 ! "${@:2}" ! m. || true
  }
  gstavi snd_gst_mp3.avi audio/x-raw,rate=44100,channels=2 ! lamemp3enc target=quality \
      quality=4 ! mpegaudioparse
  gstavi snd_gst_ac3.avi audio/x-raw,rate=48000,channels=2 ! avenc_ac3 ! ac3parse
fi
if command -v mencoder >/dev/null; then
  men() { mencoder -really-quiet -msglevel all=0 "$@" >/dev/null 2>&1 || true; }
  men pcm16_stereo_44100.avi -ovc copy -oac mp3lame -lameopts vbr=3 -o snd_men_mp3.avi
  men snd_ff_ac3_stereo.avi -ovc copy -oac copy -o snd_men_ac3_copy.avi
  men pcm16_stereo_44100.avi -ovc copy -oac pcm -audio-delay 0.5 -o snd_men_delay.avi
fi
find . -maxdepth 1 -name 'snd_*' -size 0 -delete  # a writer that failed leaves nothing
python3 - <<'PY' || true
import math, struct, wave
for width, rate, channels in ((1, 11127, 1), (2, 22100, 2), (3, 16000, 1)):
    peak, signed = (1 << (8 * width - 1)) // 2, width > 1  # 8-bit samples are unsigned
    def sample(i):
        v = int(peak * math.sin(2 * math.pi * 440 * i / rate)) + (0 if signed else 128)
        return channels * v.to_bytes(width, "little", signed=signed)
    with wave.open(f"snd_py_{('u8', 's16', 's24')[width - 1]}_{rate}.wav", "wb") as w:
        w.setparams((channels, width, rate, 0, "NONE", "not compressed"))
        w.writeframes(b"".join(sample(i) for i in range(rate * 2)))
# Headers whose byte rate lies, as mencoder's AC-3 copy declares 18,432,000 bytes/s.
for src, name in (("snd_ff_ac3_stereo.avi", "snd_lie_ac3.avi"), ("mp3_cbr.avi", "snd_lie_mp3.avi")):
    d = bytearray(open(src, "rb").read())
    i = d.find(b"strf", d.find(b"auds"))
    d[i + 16:i + 20] = struct.pack("<I", 18432000)
    open(name, "wb").write(bytes(d))
PY

# --- MPEG-4 tagged BT.709. ffmpeg's MPEG-4 encoder writes no colour description, so its visual
# object header gets one (video_signal_type, BT.709 for primaries, transfer and matrix) in the
# elementary stream before it is put into AVI.
ff -f lavfi -i "$(pattern 320x240 25)" -t 2 -c:v mpeg4 -g 12 -bf 0 -q:v 4 -f m4v bt709.m4v
python3 -c "import sys; d = open(sys.argv[1], 'rb').read(); open(sys.argv[1], 'wb').write(
    d.replace(bytes.fromhex('000001b58913'), bytes.fromhex('000001b5891d4040405f')))" bt709.m4v
ff -r 25 -i bt709.m4v -c:v copy -vtag XVID mpeg4_bt709.avi
rm -f bt709.m4v

echo "$stamp" > .complete
