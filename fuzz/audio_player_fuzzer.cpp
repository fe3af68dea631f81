// Drives AviAudioPlayer over arbitrary bytes opened as an in-memory file.
//
// Input: byte 0 gives the number of operations n (mod 32), then n operations of three bytes
// (code, a, b), then the file. Operations: pull blocks, seek, shift, output format (valid and
// not), stream selection, volume, close and reopen, copies. Only invariants are checked: blocks
// hold exactly 1152 frames in a format within the limits, the clock never runs backward between
// seeks, every value reported is finite, and no file is left open at the end.
//
// DV type-1 sound needs whole DV frames, far larger than a useful fuzz input: a file part that
// starts with "DV1" is expanded into a DV type-1 AVI instead. Byte 3 gives the frame count
// (bits 0-4, plus 1), the system (bit 5 set: 525/60) and a short chunk (bit 6); the rest is cut
// into one slice per frame, laid over the frame from byte 12240 on (the audio source pack, then
// the first samples).

#include <avikit/avi_audio_player.h>
#include <avikit/sound_frame.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/files.h"
#include "support/avi_builder.h"
#include "video/shared_file_registry.h"

using namespace avikit;

namespace {

// The input of the run under way, held in memory.
InMemoryFile g_input(nullptr, "mem:fuzz_audio.avi");
constexpr int kOpBytes = 3;
constexpr int kMaxBlocksPerOp = 8;

void check(bool ok) {
  if (!ok) std::abort();
}

void check_block(const AviAudioPlayer& p, const SoundFrame* f) {
  if (p.has_audio() == 0) {
    check(f == nullptr);
    return;
  }
  check(f != nullptr);
  const int channels = f->get_channels();
  check(channels == 1 || channels == 2);
  check(f->get_sample_rate() >= 8000 && f->get_sample_rate() <= 48000);
  check(f->get_sample_count() == channels * 1152);
  check(channels == p.get_pcm_output_channels());
  check(f->get_sample_rate() == p.get_pcm_output_sample_rate());
}

void check_state(const AviAudioPlayer& p) {
  check(std::isfinite(p.get_offset()));
  check(std::isfinite(p.get_length()) && p.get_length() >= 0.0);
  check(p.is_end() == 0 || p.is_end() == 1);
  const int rate = p.get_pcm_output_sample_rate();
  const int channels = p.get_pcm_output_channels();
  check(rate >= 8000 && rate <= 48000);
  check(channels == 1 || channels == 2);
  if (p.has_audio() != 0) check(p.get_audio_info() != nullptr);
}

void pull(AviAudioPlayer& p, int blocks) {
  double clock = p.get_offset();
  for (int i = 0; i < blocks; ++i) {
    check_block(p, p.get_next_sound());
    const double now = p.get_offset();
    check(now >= clock);
    clock = now;
  }
}

void run(AviAudioPlayer& p, std::uint8_t code, std::uint8_t a, std::uint8_t b) {
  static constexpr int kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 0};
  switch (code % 10) {
    case 0:
      pull(p, 1 + b % kMaxBlocksPerOp);
      break;
    case 1:
      p.seek((a - 128) * 0.05 * (1 + b % 4));
      break;
    case 2:
      p.set_shift(static_cast<std::int8_t>(a) * 40 + (b % 40));
      break;
    case 3:
      p.set_pcm_output(kRates[a % 8], b % 4);
      break;
    case 4:
      p.select_audio_stream(a % 5 - 1);
      break;
    case 5:
      p.set_volume(a == 255 ? std::nan("") : a / 64.0, b / 64.0);
      break;
    case 6:
      p.close();
      break;
    case 7:
      p.open(g_input);
      break;
    case 8: {
      AviAudioPlayer copy(p);
      pull(copy, 1 + b % 4);
      break;
    }
    default: {
      AviAudioPlayer other;
      other = p;
      other.seek(a * 0.1);
      break;
    }
  }
  check_state(p);
}

std::string expand_dv(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t flags = data[3];
  const std::size_t frames = (flags & 0x1F) + 1u;
  const bool fifty = (flags & 0x20) == 0;
  const std::size_t frame_bytes = fifty ? 144000 : 120000;
  const std::size_t slice = (size - 4) / frames;
  avitest::AviBuilder b;
  avitest::DvStream d;
  d.fifty_field = fifty;
  d.rate = fifty ? 25 : 30000;
  d.scale = fifty ? 1 : 1001;
  d.length = static_cast<std::uint32_t>(frames);
  const int s = b.add_dv(d);
  for (std::size_t f = 0; f < frames; ++f) {
    std::string frame(frame_bytes, '\0');
    frame.replace(12240, slice, reinterpret_cast<const char*>(data) + 4 + f * slice, slice);
    if ((flags & 0x40) != 0 && f == frames / 2) frame.resize(frame_bytes - 1 - slice % 1000);
    b.add_chunk(s, static_cast<std::uint32_t>(frame.size()), true, frame);
  }
  return b.build().bytes;
}

std::shared_ptr<const std::string> file_bytes(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kMaxSlices = 8000;  // within a frame from byte 12240 on
  if (size >= 4 && data[0] == 'D' && data[1] == 'V' && data[2] == '1' &&
      (size - 4) / ((data[3] & 0x1Fu) + 1u) <= kMaxSlices) {
    return std::make_shared<const std::string>(expand_dv(data, size));
  }
  return std::make_shared<const std::string>(reinterpret_cast<const char*>(data), size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t ops = data[0] % 32;
  const std::size_t script = 1 + ops * kOpBytes;
  const std::size_t file_at = script < size ? script : size;
  g_input.bytes = file_bytes(data + file_at, size - file_at);
  {
    AviAudioPlayer p;
    p.open(g_input);
    check_state(p);
    for (std::size_t i = 0; i < ops && 1 + (i + 1) * kOpBytes <= size; ++i) {
      const std::uint8_t* op = data + 1 + i * kOpBytes;
      run(p, op[0], op[1], op[2]);
    }
    pull(p, 4);
  }
  g_input.bytes.reset();
  check(shared_file_count() == 0);
  check(platform::open_file_handles() == 0);
  return 0;
}
