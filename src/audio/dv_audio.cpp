// DV type-1 sound: the cache of ten-frame groups the audio reader copies from, and the sample
// decoding behind it.

#include "audio/dv_audio.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace avikit::audio::detail {
namespace {

// 12-bit non-linear to 16-bit (IEC 61834-2): segment t = code / 256 is shifted left and offset.
constexpr std::array<std::uint8_t, 16> kShift = {0, 0, 1, 2, 3, 4, 5, 6, 6, 5, 4, 3, 2, 1, 0, 0};
constexpr std::array<std::int32_t, 16> kOffset = {0,      0,      -512,   -2048,  -6144, -16384,
                                                  24576,  -32768, -32704, -24544, 16400, -26616,
                                                  -14332, -7678,  -4095,  -4095};

// Minimum samples per frame (50-field, 60-field) for 48, 44.1 and 32 kHz (IEC 61834-4 AAUX).
constexpr std::array<std::array<std::uint32_t, 2>, 3> kBaseSamples = {
    {{1580 + 316, 1580}, {1452 + 290, 1452}, {1053 + 211, 1053}}};

std::int16_t be16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] << 8 | p[1]));
}

}  // namespace

DvFrameSound dv_frame_sound(const std::uint8_t* frame) {
  DvFrameSound s;
  const std::uint32_t codes = frame[kDvAudioCodesByte];
  const std::uint32_t frequency = (codes >> 3) & 7;
  if (frequency > 2) return s;
  const bool fifty = ((frame[kDvFiftyFieldByte] >> 5) & 1) != 0;
  s.known = true;
  s.twelve_bit = (codes & 7) == 1;
  s.samples = kBaseSamples[frequency][fifty ? 0 : 1] + (frame[kDvAudioSourceByte] & 0x3Fu);
  return s;
}

std::int16_t dv_expand_12bit(std::uint32_t code) {
  const std::uint32_t v = code & 0xFFF;
  const std::uint32_t t = v >> 8;
  const auto wide =
      static_cast<std::uint32_t>(static_cast<std::int32_t>(v << kShift[t]) + kOffset[t]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(wide & 0xFFFF));
}

void dv_decode_samples(const std::uint8_t* frame, std::size_t frame_size,
                       const std::vector<std::uint32_t>& offsets, std::uint32_t channel2_offset,
                       bool twelve_bit, std::uint32_t samples, std::int16_t* out) {
  const std::size_t n = std::min<std::size_t>(samples, offsets.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t a = offsets[i];
    std::int16_t left = 0;
    std::int16_t right = 0;
    if (twelve_bit) {
      // Both channels share three bytes: the high eight bits of each, then their low nibbles.
      if (frame_size >= 3 && a <= frame_size - 3) {
        const std::uint32_t b0 = frame[a], b1 = frame[a + 1], b2 = frame[a + 2];
        left = dv_expand_12bit(b0 << 4 | b2 >> 4);
        right = dv_expand_12bit(b1 << 4 | (b2 & 0xF));
      }
    } else {
      const std::size_t b = a + channel2_offset;
      if (frame_size >= 2 && a <= frame_size - 2) left = be16(frame + a);
      if (frame_size >= 2 && b <= frame_size - 2) right = be16(frame + b);
    }
    out[2 * i] = left;
    out[2 * i + 1] = right;
  }
}

void dv_stretch(const std::int16_t* raw, std::uint32_t count, std::int16_t* even,
                std::uint32_t target) {
  if (target == 0) return;
  if (count == target) {
    std::memcpy(even, raw, std::size_t{target} * 2 * sizeof(std::int16_t));
    return;
  }
  if (count == 0) {
    std::fill(even, even + std::size_t{target} * 2, std::int16_t{0});
    return;
  }
  even[0] = raw[0];
  even[1] = raw[1];
  if (target == 1) return;  // nothing between the ends to spread over
  const auto step = static_cast<std::uint32_t>((std::uint64_t{count - 1} << 16) / (target - 1));
  // Signed, so a very short raw run (fewer than a third of the target) cannot wrap the
  // position round to the far end of the buffer; it then holds at the first frame.
  std::int64_t p = std::int64_t{step} + step / 2 - 32768;
  const std::int64_t last_pair = count >= 2 ? count - 2 : 0;
  for (std::uint32_t j = 1; j + 1 < target; ++j, p += step) {
    std::int64_t i = p >> 16;
    std::int32_t f = static_cast<std::int32_t>((p >> 4) & 0xFFF);
    if (i < 0) {
      i = 0;
      f = 0;
    }
    if (count == 1 || i > last_pair) {
      i = last_pair;
      f = count == 1 ? 0 : 4096;
    }
    const std::int16_t* a = raw + 2 * i;
    const std::int16_t* b = count == 1 ? a : a + 2;
    for (int ch = 0; ch < 2; ++ch) {
      const std::int32_t d = (std::int32_t{b[ch]} - a[ch]) * f + 2048;
      even[2 * j + static_cast<std::uint32_t>(ch)] = static_cast<std::int16_t>(a[ch] + (d >> 12));
    }
  }
  even[2 * (target - 1)] = raw[2 * (count - 1)];
  even[2 * (target - 1) + 1] = raw[2 * (count - 1) + 1];
}

}  // namespace avikit::audio::detail

namespace avikit {

namespace {

using audio::detail::DvFrameSound;

constexpr std::uint32_t kFrameBytes625 = 144000;
constexpr std::uint32_t kFrameBytes525 = 120000;
constexpr std::uint32_t kFramesPerGroup = 10;

// Reads DV frames [first, last) into the slot's raw area; returns the stereo frames kept, or
// nothing when a frame's chunk does not hold a whole DV frame (the read ends there).
std::optional<std::uint32_t> gather_group(AviContainer& file, std::vector<std::uint8_t>& buffer,
                                          std::uint64_t first, std::uint64_t last,
                                          std::uint32_t per_group, audio::DvAudioSlot& slot) {
  const ChunkIndex* index = file.video_index();
  const std::vector<std::uint32_t>& offsets = file.dv_audio_offsets();
  std::uint32_t raw = 0;
  for (std::uint64_t f = first; f < last; ++f) {
    std::uint32_t got = 0;
    if (index != nullptr && f < index->entries.size() && index->entries[f].size != 0) {
      // A chunk longer than a DV frame still carries its sound in the first frame's bytes.
      const IndexEntry& e = index->entries[f];
      const auto want = static_cast<std::uint32_t>(std::min<std::size_t>(e.size, buffer.size()));
      got = file.read_at(e.position, buffer.data(), want);
      if (got != 0 && got != buffer.size()) return std::nullopt;
    }
    DvFrameSound sound;
    if (got != 0) sound = audio::detail::dv_frame_sound(buffer.data());
    // A damaged frame may declare up to 63 extra samples, more than the layout places; only
    // the samples the layout has are taken.
    const std::uint32_t n =
        sound.known
            ? std::min<std::uint32_t>(sound.samples, static_cast<std::uint32_t>(offsets.size()))
            : per_group / kFramesPerGroup;
    if (raw + n >= audio::DvAudioSlot::kRawFrames) break;
    std::int16_t* out = slot.raw.data() + std::size_t{raw} * 2;
    if (sound.known) {
      audio::detail::dv_decode_samples(buffer.data(), buffer.size(), offsets,
                                       file.dv_channel2_offset(), sound.twelve_bit, n, out);
    } else {
      std::fill(out, out + std::size_t{n} * 2, std::int16_t{0});  // missing or unreadable
    }
    raw += n;
  }
  return raw;
}

}  // namespace

audio::DvAudioCache& audio::DvAudioCache::of(SharedAviFile& file) {
  std::unique_ptr<SharedFileSlot>& slot = file.dv_audio_cache();
  if (!slot) slot = std::make_unique<DvAudioCache>();
  // Only this layer fills the file's DV audio cache, always with a DvAudioCache.
  return static_cast<DvAudioCache&>(*slot);
}

const audio::DvAudioSlot* audio::DvAudioCache::load(AviContainer& file, std::uint32_t group) {
  const std::uint32_t at = group % kSlots;
  const bool taggable = group <= static_cast<std::uint32_t>(INT32_MAX);
  if (taggable && tags_[at] == static_cast<std::int32_t>(group) && slots_[at]) {
    return slots_[at].get();
  }
  tags_[at] = -1;
  const std::int32_t n = file.dv_samples_per_10_frames();
  if (n <= 0 || static_cast<std::uint32_t>(n) > DvAudioSlot::kEvenFrames) return nullptr;
  const auto per_group = static_cast<std::uint32_t>(n);
  file.load_index();
  const std::uint64_t frames = file.frame_count();
  const std::uint64_t first = std::uint64_t{group} * kFramesPerGroup;
  if (first >= frames) return nullptr;
  std::uint64_t last = first + kFramesPerGroup;
  std::uint32_t target = per_group;
  if (last > frames) {
    last = frames;
    target = static_cast<std::uint32_t>((frames - first) * per_group / kFramesPerGroup);
  }
  if (frame_.empty()) {
    const platform::BITMAPINFOHEADER* format = file.video_format();
    const bool is625 = format != nullptr && format->biHeight == 576;
    frame_.resize(is625 ? kFrameBytes625 : kFrameBytes525);
  }
  if (!slots_[at]) slots_[at] = std::make_unique<DvAudioSlot>();
  DvAudioSlot& slot = *slots_[at];
  const std::optional<std::uint32_t> raw = gather_group(file, frame_, first, last, per_group, slot);
  if (!raw) return nullptr;
  slot.raw_count = *raw;
  audio::detail::dv_stretch(slot.raw.data(), *raw, slot.even.data(), target);
  // A short last group leaves the rest of the slot from an earlier group: silence it, so no
  // stale sound can ever be handed out.
  std::fill(slot.even.begin() + std::ptrdiff_t{target} * 2, slot.even.end(), std::int16_t{0});
  if (taggable) tags_[at] = static_cast<std::int32_t>(group);
  return &slot;
}

}  // namespace avikit
