#pragma once
// One block of interleaved signed 16-bit PCM handed from an audio player to the host.

#include <cstdint>
#include <vector>

namespace avikit {

class SoundFrame {
 public:
  SoundFrame(int sample_rate, int channels);
  ~SoundFrame();
  SoundFrame(const SoundFrame&) = default;
  SoundFrame& operator=(const SoundFrame&) = default;

  // Format of the samples that follow; a rate or channel count below 1 reads as "no duration".
  void set_param(int sample_rate, int channels);
  // Keeps a copy of `count` interleaved samples (null or a negative count: none), so the caller
  // may reuse its buffer at once.
  void set_pcm(const std::int16_t* pcm, int count);
  // Duration in seconds of the samples set: count / channels / rate.
  double get_length() const;

  const std::int16_t* get_pcm() const { return samples_.data(); }
  int get_sample_count() const { return static_cast<int>(samples_.size()); }
  int get_sample_rate() const { return sample_rate_; }
  int get_channels() const { return channels_; }

 private:
  int sample_rate_;
  int channels_;
  std::vector<std::int16_t> samples_;
};

}  // namespace avikit
