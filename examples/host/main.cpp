// avikit_host FILE: a small host program built against an installed avikit.
//
// It does with a file what a media application does: probe it with AviFileInfo and list its
// streams, step through frames with AviVideoPlayer and pull sound with AviAudioPlayer. The
// players are driven only through the host library's VideoPlayer and AudioPlayer interfaces,
// as a host drives every media type; only their construction names the AVI classes.
//
// Build with CMake (CMakeLists.txt here) or with pkg-config:
//   c++ -std=c++20 main.cpp $(pkg-config --cflags --libs avikit) -o avikit_host

#include <avikit/avi_audio_player.h>
#include <avikit/avi_file_info.h>
#include <avikit/avi_video_player.h>
#include <avikit/open_error.h>
#include <avikit/player_bases.h>
#include <avikit/smpte_timecode.h>
#include <avikit/sound_frame.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char* audio_format_name(int format) {
  switch (format) {
    case avikit::kAudioFormatPcm:
      return "PCM";
    case avikit::kAudioFormatMpeg12:
      return "MPEG layer 1/2";
    case avikit::kAudioFormatMpeg3:
      return "MPEG layer 3";
    case avikit::kAudioFormatAc3:
      return "AC-3";
    default:
      return "?";
  }
}

// What the file is and which of its streams the module can decode.
bool probe(const char* file) {
  avikit::AviFileInfo info;
  std::uint32_t status[2] = {0, 0};  // why a kind of stream cannot be decoded (11, 12, 13)
  if (info.open(file, status) != 0) {
    std::printf("%s: not a file avikit can play: %s (status %u)\n", file,
                avikit::avi_last_open_error_message(), status[0]);
    return false;
  }
  std::printf("%s: %s, %.0f bytes, %.3f s\n", file, info.get_type_name(), info.get_file_size(),
              info.get_length());
  int count = 0;
  const avikit::VideoInfo* video = info.get_video_info(count);
  char** codecs = info.get_video_type_name();
  for (int i = 0; i < count; ++i) {
    std::printf("  video stream %d: %s, %dx%d, %.3f frames/s, %.3f s\n", video[i].stream, codecs[i],
                video[i].width, video[i].height, video[i].frame_rate, video[i].length);
  }
  const avikit::AudioInfo* audio = info.get_audio_info(count);
  for (int i = 0; i < count; ++i) {
    std::printf("  audio stream %d: %s, %d channels, %d Hz, %d bits, %.3f s\n", audio[i].stream,
                audio_format_name(audio[i].format), audio[i].channels, audio[i].sample_rate,
                audio[i].bits_per_sample, audio[i].length);
  }
  if (status[0] != 0) std::printf("  (status %u: some streams cannot be decoded)\n", status[0]);
  return true;
}

// FNV-1a: a short fingerprint to compare a frame with the same frame fetched another way.
std::uint32_t fingerprint(const std::uint8_t* p, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

// Steps through the first frames and fetches each as the bottom-up 24-bit bitmap.
bool step_frames(avikit::VideoPlayer& player, const char* file, int frames) {
  if (player.open(file, -1) != 0) {  // open: 0 is success
    // The result stays 0/1; the reason is asked for on the same thread, right after.
    std::printf("video: cannot open %s: %s\n", file, avikit::avi_last_open_error_message());
    return false;
  }
  std::printf("video: %d frames at %.3f frames/s\n", player.get_total_frames(),
              player.get_frame_rate());
  player.seek(0, 1);
  for (int k = 0; k < frames && player.is_end() == 0; ++k) {
    const avikit::BitmapInfoHeader* header = player.get_frame_dib_header();
    const char* pixels = player.get_frame_dib_data();
    if (header == nullptr || pixels == nullptr) break;
    const auto bytes = static_cast<std::size_t>(player.get_frame_dib_pitch()) *
                       static_cast<std::size_t>(std::abs(header->biHeight));
    char timecode[avikit::kTimecodeBufferSize];
    std::printf("  frame %d  %s  %dx%d  fingerprint %08x\n", player.get_frame_offset(),
                player.frame_2_timecode(player.get_frame_offset(), timecode, 0), header->biWidth,
                header->biHeight,
                fingerprint(reinterpret_cast<const std::uint8_t*>(pixels), bytes));
    if (player.forward(1) == 0) break;  // 0: refused at the end of the window
  }
  player.close();
  return true;
}

// Pulls blocks of 16-bit PCM, at the stream's own rate and channel count, for up to `seconds`.
bool pull_sound(avikit::AudioPlayer& player, const char* file, double seconds) {
  if (player.open(file) != 0) {  // open: 0 is success
    std::printf("audio: cannot open %s: %s\n", file, avikit::avi_last_open_error_message());
    return false;
  }
  std::printf("audio: %d Hz, %d channels, %.3f s\n", player.get_pcm_output_sample_rate(),
              player.get_pcm_output_channels(), player.get_length());
  int blocks = 0;
  std::int64_t samples = 0;
  int peak = 0;
  while (player.is_end() == 0 && player.get_offset() < seconds) {
    const avikit::SoundFrame* block = player.get_next_sound();
    if (block == nullptr) break;
    for (int i = 0; i < block->get_sample_count(); ++i) {
      peak = std::max(peak, std::abs(int{block->get_pcm()[i]}));
    }
    samples += block->get_sample_count();
    ++blocks;
  }
  std::printf("  %d blocks, %lld samples, peak %d, now at %.3f s\n", blocks,
              static_cast<long long>(samples), peak, player.get_offset());
  player.close();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: avikit_host FILE\n");
    return 2;
  }
  const char* file = argv[1];
  bool ok = probe(file);
  {  // The video player, stepping through the first five frames.
    avikit::AviVideoPlayer video;
    ok = step_frames(video, file, 5) && ok;
  }
  {  // The audio player, pulling the first second of sound.
    avikit::AviAudioPlayer audio;
    ok = pull_sound(audio, file, 1.0) && ok;
  }
  return ok ? 0 : 1;
}
