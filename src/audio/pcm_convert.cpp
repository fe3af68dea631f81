#include "audio/pcm_convert.h"

#include <algorithm>
#include <cmath>

namespace avikit::audio {
namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 48000;
constexpr double kUnityTolerance = 0.0001;
constexpr double kCentreGain = 0.70710678118654752;  // -3 dB
constexpr int kLowFrequencyChannel = 3;              // RIFF default order: FL FR FC LFE BL BR...

std::int16_t scale_sample(std::int16_t s, double factor) {
  const double v = s * factor;
  if (std::isnan(v)) return 0;
  return static_cast<std::int16_t>(std::clamp(v, -32767.0, 32767.0));
}

bool is_unity(double factor) { return std::fabs(factor - 1.0) <= kUnityTolerance; }

// Weight of input channel c on the left (side 0) or right (side 1) output.
double mix_weight(int c, int side) {
  if (c == kLowFrequencyChannel) return 0.0;
  if (c == 2) return kCentreGain;
  const int c_side = c < 2 ? c : c % 2;
  return c_side == side ? 1.0 : 0.0;
}

void mix_to_stereo(const std::int16_t* in, std::size_t frames, int channels,
                   std::vector<std::int16_t>& out) {
  double total[2] = {0.0, 0.0};
  for (int c = 0; c < channels; ++c) {
    total[0] += mix_weight(c, 0);
    total[1] += mix_weight(c, 1);
  }
  const double norm = 1.0 / std::max({total[0], total[1], 1.0});
  out.resize(frames * 2);
  const auto stride = static_cast<std::size_t>(channels);
  for (std::size_t f = 0; f < frames; ++f) {
    const std::int16_t* s = in + f * stride;
    double side[2] = {0.0, 0.0};
    for (int c = 0; c < channels; ++c) {
      side[0] += s[c] * mix_weight(c, 0);
      side[1] += s[c] * mix_weight(c, 1);
    }
    out[2 * f] =
        static_cast<std::int16_t>(std::lround(std::clamp(side[0] * norm, -32768.0, 32767.0)));
    out[2 * f + 1] =
        static_cast<std::int16_t>(std::lround(std::clamp(side[1] * norm, -32768.0, 32767.0)));
  }
}

void repeat_frames(std::vector<std::int16_t>& pcm, int channels, int times) {
  const auto ch = static_cast<std::size_t>(channels);
  const std::size_t frames = pcm.size() / ch;
  std::vector<std::int16_t> out(pcm.size() * static_cast<std::size_t>(times));
  std::int16_t* o = out.data();
  for (std::size_t f = 0; f < frames; ++f) {
    for (int t = 0; t < times; ++t) o = std::copy_n(pcm.data() + f * ch, ch, o);
  }
  pcm.swap(out);
}

// Averages each `k` frames into one; a trailing partial group is averaged over what it has.
void average_frames(std::vector<std::int16_t>& pcm, int channels, int k) {
  const auto ch = static_cast<std::size_t>(channels);
  const auto group = static_cast<std::size_t>(k);
  const std::size_t frames = pcm.size() / ch;
  std::size_t written = 0;
  for (std::size_t f = 0; f < frames; f += group) {
    const std::size_t n = std::min(group, frames - f);
    for (std::size_t c = 0; c < ch; ++c) {
      std::int32_t sum = 0;
      for (std::size_t i = 0; i < n; ++i) sum += pcm[(f + i) * ch + c];
      pcm[written * ch + c] = static_cast<std::int16_t>(sum / static_cast<std::int32_t>(n));
    }
    ++written;
  }
  pcm.resize(written * ch);
}

}  // namespace

void pcm_to_16(const std::uint8_t* in, std::size_t count, std::uint32_t sample_bytes,
               std::int16_t* out) {
  switch (sample_bytes) {
    case 1:
      for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::int16_t>((in[i] - 128) * 256);
      }
      return;
    case 2:
      for (std::size_t i = 0; i < count; ++i) {
        out[i] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(in[2 * i] | in[2 * i + 1] << 8));
      }
      return;
    default: {
      // Left-justified wider samples: the top two bytes are the 16 most significant bits.
      const std::size_t top = sample_bytes - 2;
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* s = in + i * sample_bytes + top;
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(s[0] | s[1] << 8));
      }
      return;
    }
  }
}

void apply_volume(std::int16_t* samples, std::size_t count, int channels, double left,
                  double right) {
  if (channels == 1) {
    if (is_unity(left)) return;
    for (std::size_t i = 0; i < count; ++i) samples[i] = scale_sample(samples[i], left);
    return;
  }
  if (channels != 2) return;
  const bool keep_left = is_unity(left);
  const bool keep_right = is_unity(right);
  if (keep_left && keep_right) return;
  for (std::size_t i = 0; i + 1 < count; i += 2) {
    if (!keep_left) samples[i] = scale_sample(samples[i], left);
    if (!keep_right) samples[i + 1] = scale_sample(samples[i + 1], right);
  }
  if (count % 2 == 1 && !keep_left) samples[count - 1] = scale_sample(samples[count - 1], left);
}

int decimation_factor(int rate) {
  if (rate <= kMaxRate) return 1;
  return (rate + kMaxRate - 1) / kMaxRate;
}

ConverterInput adapt_for_converter(const std::int16_t* in, std::size_t frames, int channels,
                                   int rate, std::vector<std::int16_t>& out) {
  if (channels < 1 || rate < 1 || rate > kMaxAdaptableRate) return {};
  ConverterInput result{rate, channels};
  if (channels > 2) {
    mix_to_stereo(in, frames, channels, out);
    result.channels = 2;
  } else {
    out.assign(in, in + frames * static_cast<std::size_t>(channels));
  }
  if (rate == 22050) {
    repeat_frames(out, result.channels, 2);
    result.rate = 44100;
  } else if (rate == 11025 || rate == 11024) {
    repeat_frames(out, result.channels, 4);
    result.rate = 44100;
  } else if (rate < kMinRate) {
    const int times = (kMinRate + rate - 1) / rate;
    repeat_frames(out, result.channels, times);
    result.rate = rate * times;
  } else if (rate > kMaxRate) {
    const int k = decimation_factor(rate);
    average_frames(out, result.channels, k);
    result.rate = rate / k;
  }
  return result;
}

}  // namespace avikit::audio
