#include "audio/audio_player_impl.h"

#include <algorithm>
#include <cmath>

#include "audio/pcm_convert.h"
#include "audio/stream_format.h"
#include "container/stream_access.h"
#include "video/shared_file_registry.h"

namespace avikit {

namespace {

constexpr int kMinRate = 8000;
constexpr int kMaxRate = 48000;
constexpr int kDefaultRate = 44100;
// Enough rounds for any ratio the converter is fed with (at most about 1:6); a converter that
// takes nothing (a format it refuses) must not hold the block forever.
constexpr int kMaxFillRounds = 16;

bool valid_output(int rate, int channels) {
  return rate >= kMinRate && rate <= kMaxRate && channels >= 1 && channels <= 2;
}

// The PCM rates the module has always played straight from the file.
bool is_plain_pcm_rate(int rate) {
  return rate == 11025 || rate == 22050 || rate == 32000 || rate == 44100 || rate == 48000;
}

// Tags the module does not name play as PCM (the reader has already resolved the rest).
std::int32_t format_code(std::uint16_t tag) {
  const std::int32_t code = container::detail::audio_format_code(tag);
  return code < 0 ? kAudioFormatPcm : code;
}

}  // namespace

AviAudioPlayerImpl::AviAudioPlayerImpl() = default;

AviAudioPlayerImpl::~AviAudioPlayerImpl() { close(); }

int AviAudioPlayerImpl::open(const platform::FileSource& source) {
  if (reader_) close();
  reader_ = std::make_unique<AudioMediaReader>();
  if (!reader_->open(source, USE_AUDIO)) {
    // Nothing is kept of a failed open, so the player answers as one never opened.
    reader_.reset();
    return 1;
  }
  reader_->select_audio(-1);
  select_stream(-1);
  if (info_.stream < 0 || !playable_) {
    // A file without sound it can play is no use to an audio player; the host is told at once,
    // as the probe tells it by withholding the stream.
    close();
    return 1;
  }
  opened_ = 1;
  return 0;
}

void AviAudioPlayerImpl::close() {
  length_ = 0.0;
  clock_ = 0.0;
  pcm_ = {};
  converter_.reset();
  decoder_.reset();
  info_ = AudioInfo();
  info_.stream = -1;
  format_ = {};
  playable_ = false;
  reader_.reset();  // releases the shared file
  last_frame_ = nullptr;
  opened_ = 0;
}

int AviAudioPlayerImpl::select_stream(int stream) {
  if (!reader_) return -1;
  if (stream != -1 && stream == info_.stream) return stream;
  reader_->select_audio(stream);
  describe_stream();
  clock_ = 0.0;
  decoder_.reset();
  // Sound of the stream left behind must not come out at the start of the new one.
  if (converter_) converter_->restart();
  // Every rate is converted, so every stream is reported by its number; the host's
  // open(name, stream) counts on getting it back.
  return info_.stream;
}

void AviAudioPlayerImpl::describe_stream() {
  info_ = AudioInfo();
  format_ = {};
  playable_ = false;
  decoded_ = false;
  start_ = 0.0;
  const platform::WAVEFORMATEX* f = reader_->audio_format();
  if (f == nullptr) {
    info_.stream = -1;
    length_ = 0.0;
    return;
  }
  format_ = *f;
  const std::int32_t code = format_code(format_.wFormatTag);
  info_.kind = 16;
  info_.format = code;
  info_.channels = f->nChannels;
  if (code == kAudioFormatAc3) {
    if (f->nChannels > 2) info_.channels = 2;
    info_.source_channels = f->nChannels;
  }
  info_.sample_rate = container::detail::truncate_to_int(f->nSamplesPerSec);
  info_.bit_rate = container::detail::truncate_to_int(reader_->audio_byte_rate() * 8.0);
  info_.bits_per_sample = f->wBitsPerSample;
  info_.block_bytes = f->wBitsPerSample * kBlockFrames / 8;
  info_.stream = reader_->audio_stream_id();
  // A stream that starts after the video is preceded by silence (its "strh" start).
  start_ = reader_->file()->container().audio_start();
  info_.length = reader_->audio_length() + start_;
  length_ = info_.length;
  // 8- and 16-bit mono or stereo PCM at the rates the module always played passes straight
  // through; everything else is libavcodec's to decode (and libswresample's to resample, as
  // ffmpeg does), and plays exactly when it can.
  const audio::PcmLayout layout = audio::pcm_layout(*f);
  decoded_ = f->wFormatTag != platform::WAVE_FORMAT_PCM || layout.sample_bytes > 2 ||
             info_.channels > 2 || !is_plain_pcm_rate(info_.sample_rate);
  playable_ = AudioDecoder().set_input_format(format_) != 0;
}

// The stream's own format while it lies within the converter's limits. Otherwise the nearest
// format inside them: the rate held to 8000..48000 Hz (44100 when the header gives none), and
// two channels for anything but mono. Without this a stream of six PCM channels or 96 kHz would
// leave the output format unset, blocks would hold no samples and the clock would stand still.
AviAudioPlayerImpl::Format AviAudioPlayerImpl::choose_output() const {
  if (out_rate_ != 0 && out_channels_ != 0) return {out_rate_, out_channels_};
  const int rate = info_.sample_rate;
  const int channels = info_.channels;
  if (valid_output(rate, channels)) return {rate, channels};
  return {rate <= 0 ? kDefaultRate : std::clamp(rate, kMinRate, kMaxRate), channels == 1 ? 1 : 2};
}

int AviAudioPlayerImpl::output_rate() const { return choose_output().rate; }
int AviAudioPlayerImpl::output_channels() const { return choose_output().channels; }

void AviAudioPlayerImpl::set_output(int rate, int channels) {
  if (!valid_output(rate, channels)) return;
  out_rate_ = rate;
  out_channels_ = channels;
  frame_.set_param(rate, channels);
  if (info_.channels != channels || info_.sample_rate != rate) {
    if (!converter_) converter_ = std::make_unique<AudioSampleRateConvertor>(44100, 2);
    converter_->set_output_format(rate, channels);
    converter_->restart();
  }
  if (decoder_) {
    decoder_->set_output_format(rate, channels);
    decoder_->re_start(0);
  }
  pcm_ = {};
}

bool AviAudioPlayerImpl::stream_matches_output() const {
  return info_.channels == out_channels_ && info_.sample_rate == out_rate_;
}

void AviAudioPlayerImpl::restart_pipeline() {
  if (converter_) converter_->restart();
  if (decoder_) decoder_->re_start(0);
}

double AviAudioPlayerImpl::seek(double seconds) {
  if (!reader_) return 0.0;
  const double s = shift_ * 0.001;
  clock_ = seek_stream(seconds + s);
  restart_pipeline();
  return clock_ - s;
}

int AviAudioPlayerImpl::set_shift(int milliseconds) {
  if (reader_) {
    clock_ = seek_stream(clock_ - shift_ * 0.001);
    restart_pipeline();
  }
  shift_ = milliseconds;
  if (reader_) {
    clock_ = seek_stream(clock_ + shift_ * 0.001);
    restart_pipeline();
  }
  return shift_;
}

// Positions the stream at a time on the player's clock, which runs `start_` ahead of the
// stream's own; the clock time reached.
double AviAudioPlayerImpl::seek_stream(double seconds) {
  return reader_->seek_audio(seconds - start_) + start_;
}

const char* AviAudioPlayerImpl::file_name() const {
  return reader_ ? reader_->file_name() : nullptr;
}

double AviAudioPlayerImpl::file_size() const {
  return reader_ ? static_cast<double>(reader_->file_size()) : 0.0;
}

// Sample frames of silence at the start of the next block: the part of it that lies before the
// stream's start (a negative clock from a negative shift, or a stream that starts late). 0 once
// the clock has reached the start.
int AviAudioPlayerImpl::leading_silence_frames() const {
  if (!(clock_ < start_)) return 0;
  const double frames = (start_ - clock_) * out_rate_;
  if (!(frames < kBlockFrames)) return kBlockFrames;
  return static_cast<int>(std::lround(frames));
}

const SoundFrame* AviAudioPlayerImpl::next_block() {
  if (!reader_ || reader_->file() == nullptr) return nullptr;
  if (out_rate_ == 0 || out_channels_ == 0) {
    const Format f = choose_output();
    set_output(f.rate, f.channels);
  }
  const int n = out_channels_ * kBlockFrames;
  pcm_.resize(static_cast<std::size_t>(n));
  const int lead = leading_silence_frames() * out_channels_;
  if (lead < n) {
    // The clock has reached the stream's start: its sound begins right after the silence.
    if (reader_->audio_position() < 0) {
      reader_->seek_audio(0.0);
      restart_pipeline();
    }
    produce(pcm_.data() + lead, n - lead);
  }
  std::fill(pcm_.begin(), pcm_.begin() + std::min(lead, n), std::int16_t{0});
  frame_.set_pcm(pcm_.data(), n);
  last_frame_ = &frame_;
  clock_ += frame_.get_length();
  return &frame_;
}

void AviAudioPlayerImpl::produce(std::int16_t* out, int count) {
  if (!playable_) {
    std::fill(out, out + count, std::int16_t{0});
    return;
  }
  if (stream_matches_output()) {
    fill_block(out, count);
    audio::apply_volume(out, static_cast<std::size_t>(count), out_channels_, left_volume_,
                        right_volume_);
    return;
  }
  // The decoder resamples and mixes to the output format itself (libswresample, as ffmpeg
  // does); only plain PCM goes through the converter.
  if (decoded_) {
    fill_block(out, count);
  } else {
    convert(out, count);
  }
  // Converted sound takes the volume only in stereo, a mono stream's from the left factor.
  if (out_channels_ == 2) {
    const double right = info_.channels == 1 ? left_volume_ : right_volume_;
    audio::apply_volume(out, static_cast<std::size_t>(count), 2, left_volume_, right);
  }
}

void AviAudioPlayerImpl::convert(std::int16_t* out, int count) {
  if (!converter_) {
    converter_ = std::make_unique<AudioSampleRateConvertor>(44100, 2);
    converter_->set_output_format(out_rate_, out_channels_);
    converter_->restart();
  }
  const int channels = format_.nChannels;
  for (int round = 0; round < kMaxFillRounds && converter_->get_output_total() < count; ++round) {
    const int samples = out_channels_ * kBlockFrames;
    stream_.resize(static_cast<std::size_t>(samples));
    fill_block(stream_.data(), samples);
    const auto frames = static_cast<std::size_t>(samples / channels);
    const audio::ConverterInput in =
        audio::adapt_for_converter(stream_.data(), frames, channels, info_.sample_rate, adapted_);
    if (in.rate == 0 || converter_->input(adapted_.data(), static_cast<int>(adapted_.size()),
                                          in.rate, in.channels) == 0) {
      break;
    }
  }
  converter_->output(out, count);
}

void AviAudioPlayerImpl::fill_block(std::int16_t* out, int count) {
  if (decoded_) {
    fill_decoded(out, count);
  } else {
    fill_pcm(out, count);
  }
}

void AviAudioPlayerImpl::fill_decoded(std::int16_t* out, int count) {
  if (!decoder_) {
    decoder_ = std::make_unique<AudioDecoder>();
    (void)decoder_->set_input_format(format_);  // playable_ says it takes it
    decoder_->set_output_format(out_rate_, out_channels_);
  }
  raw_.resize(kCompressedRead);
  while (decoder_->get_output_total() < 2 * count) {
    if (reader_->audio_at_end() != 0) break;
    const std::uint32_t got = reader_->read_audio(raw_.data(), kCompressedRead);
    if (got == 0) break;
    if (decoder_->input(raw_.data(), static_cast<int>(got)) != 0) break;
    if (reader_->audio_at_end() != 0) break;
  }
  const int written = std::clamp(decoder_->output(out, count), 0, count);
  std::fill(out + written, out + count, std::int16_t{0});
}

void AviAudioPlayerImpl::fill_pcm(std::int16_t* out, int count) {
  const audio::PcmLayout layout = audio::pcm_layout(format_);
  const std::uint32_t frame_bytes = layout.frame_bytes();
  std::size_t done = 0;
  if (frame_bytes != 0) {
    const std::uint32_t frames = static_cast<std::uint32_t>(count) / layout.channels;
    raw_.resize(std::size_t{frames} * frame_bytes);
    const std::uint32_t got =
        reader_->read_audio(raw_.data(), static_cast<std::uint32_t>(raw_.size()));
    // A partial frame at the end of a short read is left out; it plays as silence.
    done = std::size_t{got / frame_bytes} * layout.channels;
    audio::pcm_to_16(raw_.data(), done, layout.sample_bytes, out);
  }
  // Whatever was not read is silence: 0 for every depth (8-bit included, where the stored
  // silence is 128).
  std::fill(out + done, out + count, std::int16_t{0});
}

}  // namespace avikit
