#include <avikit/sound_frame.h>

namespace avikit {

SoundFrame::SoundFrame(int sample_rate, int channels)
    : sample_rate_(sample_rate), channels_(channels) {}
SoundFrame::~SoundFrame() = default;

void SoundFrame::set_param(int sample_rate, int channels) {
  sample_rate_ = sample_rate;
  channels_ = channels;
}

void SoundFrame::set_pcm(const std::int16_t* pcm, int count) {
  if (pcm == nullptr || count <= 0) {
    samples_.clear();
    return;
  }
  samples_.assign(pcm, pcm + count);
}

double SoundFrame::get_length() const {
  if (sample_rate_ < 1 || channels_ < 1) return 0.0;
  const double frames = static_cast<double>(samples_.size()) / channels_;
  return frames / sample_rate_;
}

}  // namespace avikit
