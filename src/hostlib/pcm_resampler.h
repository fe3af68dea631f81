#pragma once
// Brings decoded audio of any layout, sample format and rate to interleaved signed 16-bit PCM
// in one or two channels at a chosen rate, through libswresample, and queues the result.
// Shared by AudioDecoder and AudioSampleRateConvertor.

#include <cstddef>
#include <cstdint>
#include <vector>

struct SwrContext;

namespace avikit::hostlib {

inline constexpr int kMinPcmRate = 8000;
inline constexpr int kMaxPcmRate = 48000;
// The source rates the resampler takes.
inline constexpr std::uint32_t kMinSourceRate = 1000;
inline constexpr std::uint32_t kMaxSourceRate = 384000;

constexpr bool valid_pcm_format(int rate, int channels) {
  return rate >= kMinPcmRate && rate <= kMaxPcmRate && channels >= 1 && channels <= 2;
}

// AV_SAMPLE_FMT_S16, for callers that do not include libavutil.
inline constexpr int kSampleFormatS16 = 1;

struct PcmSource {
  int channels = 0;       // interleaved or planar channel count
  int sample_format = 0;  // an AVSampleFormat
  int rate = 0;
};

class PcmResampler {
 public:
  PcmResampler();
  ~PcmResampler();
  PcmResampler(const PcmResampler&) = delete;
  PcmResampler& operator=(const PcmResampler&) = delete;

  // Converts `frames` sample frames (planes as libav lays them out for the source format).
  // A source or target different from the last call starts a fresh converter: samples still
  // inside the old one are dropped, those already queued stay. False when the formats cannot be
  // converted (nothing is queued then).
  [[nodiscard]] bool push(const PcmSource& source, const std::uint8_t* const* planes, int frames,
                          int out_rate, int out_channels);
  // Drops queued samples and the converter's history.
  void reset();

  std::size_t queued() const { return queue_.size() - read_; }  // interleaved samples
  // Moves up to `count` queued samples to `out`; returns how many.
  std::size_t pop(std::int16_t* out, std::size_t count);

 private:
  [[nodiscard]] bool configure(const PcmSource& source, int out_rate, int out_channels);

  SwrContext* swr_ = nullptr;  // owned; swr_free in reset and the destructor
  PcmSource source_;
  int out_rate_ = 0;
  int out_channels_ = 0;
  std::vector<std::int16_t> queue_;
  std::size_t read_ = 0;
};

}  // namespace avikit::hostlib
