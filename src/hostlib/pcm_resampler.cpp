#include "hostlib/pcm_resampler.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace avikit::hostlib {

static_assert(kSampleFormatS16 == AV_SAMPLE_FMT_S16);

namespace {

// More than any audio stream's frame carries; keeps one push's arithmetic far from overflow.
constexpr int kMaxFramesPerPush = 1 << 20;
// A queue this long (about 20 s of 48 kHz stereo) means nobody is reading; stop growing it.
constexpr std::size_t kMaxQueuedSamples = std::size_t{1} << 21;

// Mono to stereo copies the channel to both sides at full level and stereo to mono averages:
// listeners expect a mono recording as loud on two speakers as on one, which the default
// matrix (-3 dB) does not give.
bool set_plain_matrix(SwrContext* swr, int in_channels, int out_channels) {
  if (in_channels == 1 && out_channels == 2) {
    const double m[2] = {1.0, 1.0};
    return swr_set_matrix(swr, m, 1) >= 0;
  }
  if (in_channels == 2 && out_channels == 1) {
    const double m[2] = {0.5, 0.5};
    return swr_set_matrix(swr, m, 2) >= 0;
  }
  return true;
}

}  // namespace

PcmResampler::PcmResampler() = default;
PcmResampler::~PcmResampler() { swr_free(&swr_); }

bool PcmResampler::configure(const PcmSource& source, int out_rate, int out_channels) {
  if (swr_ != nullptr && source.channels == source_.channels &&
      source.sample_format == source_.sample_format && source.rate == source_.rate &&
      out_rate == out_rate_ && out_channels == out_channels_) {
    return true;
  }
  swr_free(&swr_);
  out_rate_ = 0;
  if (source.channels < 1 || source.channels > 64 ||
      source.rate < static_cast<int>(kMinSourceRate) ||
      source.rate > static_cast<int>(kMaxSourceRate) || !valid_pcm_format(out_rate, out_channels)) {
    return false;
  }
  AVChannelLayout in_layout;
  AVChannelLayout out_layout;
  av_channel_layout_default(&in_layout, source.channels);
  av_channel_layout_default(&out_layout, out_channels);
  const int alloc = swr_alloc_set_opts2(&swr_, &out_layout, AV_SAMPLE_FMT_S16, out_rate, &in_layout,
                                        static_cast<AVSampleFormat>(source.sample_format),
                                        source.rate, 0, nullptr);
  av_channel_layout_uninit(&in_layout);
  av_channel_layout_uninit(&out_layout);
  if (alloc < 0 || swr_ == nullptr || !set_plain_matrix(swr_, source.channels, out_channels) ||
      swr_init(swr_) < 0) {
    swr_free(&swr_);
    return false;
  }
  source_ = source;
  out_rate_ = out_rate;
  out_channels_ = out_channels;
  return true;
}

bool PcmResampler::push(const PcmSource& source, const std::uint8_t* const* planes, int frames,
                        int out_rate, int out_channels) {
  if (planes == nullptr || frames < 0 || frames > kMaxFramesPerPush) return false;
  if (!configure(source, out_rate, out_channels)) return false;
  if (frames == 0) return true;
  const int room = swr_get_out_samples(swr_, frames);
  if (room <= 0) return true;
  if (read_ > 0 && read_ >= queue_.size() / 2) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(read_));
    read_ = 0;
  }
  if (queued() > kMaxQueuedSamples) return false;
  const std::size_t old = queue_.size();
  queue_.resize(old + static_cast<std::size_t>(room) * static_cast<std::size_t>(out_channels));
  auto* out = reinterpret_cast<std::uint8_t*>(queue_.data() + old);
  const int made = swr_convert(swr_, &out, room, const_cast<const std::uint8_t**>(planes), frames);
  const std::size_t kept = made > 0 ? static_cast<std::size_t>(made) : 0;
  queue_.resize(old + kept * static_cast<std::size_t>(out_channels));
  return made >= 0;
}

void PcmResampler::reset() {
  swr_free(&swr_);
  out_rate_ = 0;
  queue_.clear();
  read_ = 0;
}

std::size_t PcmResampler::pop(std::int16_t* out, std::size_t count) {
  const std::size_t n = std::min(count, queued());
  if (n == 0 || out == nullptr) return 0;
  std::memcpy(out, queue_.data() + read_, n * sizeof(std::int16_t));
  read_ += n;
  if (read_ == queue_.size()) {
    queue_.clear();
    read_ = 0;
  }
  return n;
}

}  // namespace avikit::hostlib
