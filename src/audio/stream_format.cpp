#include "audio/stream_format.h"

#include <cmath>

namespace avikit::audio {
namespace {

constexpr std::uint32_t kMaxSampleBytes = 4;
// More channels than any speaker layout names is a damaged header, not sound to mix.
constexpr std::uint32_t kMaxChannels = 64;
// MPEG-1 layers 2 and 3 carry 1152 sample frames per audio frame, layer 1 384, and the
// MPEG-2 and 2.5 extensions of layer 3 (rates below 32 kHz) 576 (ISO/IEC 11172-3, 13818-3).
constexpr std::uint32_t kMpegFrame = 1152;
constexpr std::uint32_t kMpegLowRateLayer3Frame = 576;
constexpr std::uint32_t kMpegLayer1Frame = 384;
constexpr std::uint32_t kAc3Frame = 1536;  // six blocks of 256 (ATSC A/52)

}  // namespace

PcmLayout pcm_layout(const platform::WAVEFORMATEX& format) {
  PcmLayout layout;
  layout.channels = format.nChannels;
  const std::uint32_t bits = format.wBitsPerSample == 0 ? 16u : format.wBitsPerSample;
  if (layout.channels == 0 || layout.channels > kMaxChannels || bits > 8 * kMaxSampleBytes) {
    return layout;
  }
  std::uint32_t bytes = (bits + 7) / 8;
  // A container wider than the bits (24 valid bits in 4 bytes) shows in the block alignment.
  const std::uint32_t align = format.nBlockAlign;
  if (align % layout.channels == 0) {
    const std::uint32_t container = align / layout.channels;
    if (container > bytes && container <= kMaxSampleBytes) bytes = container;
  }
  layout.sample_bytes = bytes;
  return layout;
}

bool is_decoded_tag(std::uint16_t tag) {
  return tag == platform::WAVE_FORMAT_MPEG || tag == platform::WAVE_FORMAT_MPEGLAYER3 ||
         tag == platform::WAVE_FORMAT_DOLBY_AC3;
}

std::uint32_t frames_per_chunk(const platform::WAVEFORMATEX& format) {
  if (format.wFormatTag == platform::WAVE_FORMAT_DOLBY_AC3) return kAc3Frame;
  // Writers of variable bit-rate MPEG audio put the frame's sample count in nBlockAlign.
  const std::uint32_t align = format.nBlockAlign;
  if (align == kMpegFrame || align == kMpegLowRateLayer3Frame || align == kMpegLayer1Frame) {
    return align;
  }
  if (format.wFormatTag == platform::WAVE_FORMAT_MPEGLAYER3 && format.nSamplesPerSec < 32000) {
    return kMpegLowRateLayer3Frame;
  }
  return kMpegFrame;
}

std::uint32_t seek_alignment(const platform::WAVEFORMATEX& format) {
  if (is_decoded_tag(format.wFormatTag)) return 0;
  if (format.wFormatTag == platform::WAVE_FORMAT_PCM) return pcm_layout(format).frame_bytes();
  return format.nBlockAlign;
}

namespace {

constexpr std::uint16_t kWaveFormatIeeeFloat = 3;
constexpr std::uint16_t kWaveFormatAlaw = 6;
constexpr std::uint16_t kWaveFormatMulaw = 7;
constexpr std::uint16_t kWaveFormatMsAdpcm = 2;
constexpr std::uint16_t kWaveFormatImaAdpcm = 0x11;

// Sample frames in one ADPCM block: MS ADPCM heads each channel with 7 bytes holding two
// samples, IMA ADPCM with 4 bytes holding one; the rest is 4-bit codes. 0 for other formats.
std::uint32_t adpcm_block_frames(const platform::WAVEFORMATEX& f) {
  const std::uint32_t ch = f.nChannels;
  const std::uint32_t align = f.nBlockAlign;
  if (ch == 0) return 0;
  if (f.wFormatTag == kWaveFormatMsAdpcm && align > 7 * ch) return (align - 7 * ch) * 2 / ch + 2;
  if (f.wFormatTag == kWaveFormatImaAdpcm && f.wBitsPerSample == 4 && align > 4 * ch) {
    return (align - 4 * ch) * 2 / ch + 1;
  }
  return 0;
}

// Bytes per second of a stream whose blocks hold a fixed number of sample frames (PCM and its
// kin, ADPCM); 0 for other streams.
double sample_frame_rate(const platform::WAVEFORMATEX& f) {
  double frame = 0.0;
  if (f.wFormatTag == platform::WAVE_FORMAT_PCM) {
    frame = pcm_layout(f).frame_bytes();
  } else if (f.wFormatTag == kWaveFormatIeeeFloat || f.wFormatTag == kWaveFormatAlaw ||
             f.wFormatTag == kWaveFormatMulaw) {
    frame = f.nBlockAlign;
  } else if (const std::uint32_t frames = adpcm_block_frames(f); frames != 0) {
    frame = static_cast<double>(f.nBlockAlign) / frames;
  }
  return frame * f.nSamplesPerSec;
}

StreamTiming from_frames(const FrameSample& head, std::uint64_t data_bytes, std::uint64_t chunks) {
  StreamTiming t;
  const auto frames = static_cast<double>(head.frames);
  const double frame_bytes = static_cast<double>(head.bytes) / frames;
  const double frame_seconds = static_cast<double>(head.samples) / frames / head.sample_rate;
  const auto bytes = static_cast<double>(data_bytes);
  const double chunk_bytes = chunks != 0 ? bytes / static_cast<double>(chunks) : 0.0;
  if (chunks > 1 && std::abs(chunk_bytes - frame_bytes) <= frame_bytes / 8) {
    t.length = static_cast<double>(chunks) * frame_seconds;  // one frame each
  } else {
    t.length = bytes / frame_bytes * frame_seconds;
  }
  t.bytes_per_second = t.length > 0.0 ? bytes / t.length : 0.0;
  return t;
}

}  // namespace

StreamTiming stream_timing(const platform::WAVEFORMATEX& format, double stated_length,
                           std::uint64_t data_bytes, std::uint64_t chunks,
                           const FrameSample& head) {
  StreamTiming t;
  const auto bytes = static_cast<double>(data_bytes);
  const double pcm_rate = sample_frame_rate(format);
  if (pcm_rate > 0.0) {
    t.bytes_per_second = pcm_rate;
    t.length = bytes / pcm_rate;
    return t;
  }
  if (is_decoded_tag(format.wFormatTag) && head.frames != 0 && head.bytes != 0 &&
      head.samples != 0 && head.sample_rate > 0 && data_bytes != 0) {
    return from_frames(head, data_bytes, chunks);
  }
  if (format.nAvgBytesPerSec != 0) {
    t.bytes_per_second = format.nAvgBytesPerSec;
    t.length = std::isfinite(stated_length) ? stated_length : 0.0;
    return t;
  }
  if (is_decoded_tag(format.wFormatTag)) {
    if (format.nSamplesPerSec == 0 || chunks == 0 || data_bytes == 0) return t;
    t.length = static_cast<double>(chunks) * frames_per_chunk(format) / format.nSamplesPerSec;
    t.bytes_per_second = bytes / t.length;
  }
  return t;
}

std::int64_t truncate_position(double bytes) {
  if (std::isnan(bytes)) return 0;
  constexpr double kLimit = 9.2e18;  // just inside the 64-bit range
  if (bytes >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (bytes <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(bytes);
}

}  // namespace avikit::audio
