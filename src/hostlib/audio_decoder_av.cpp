// AudioDecoder's work through libavcodec, in the codec module (codec_module.h).
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "hostlib/codec_module.h"
#include "hostlib/pcm_resampler.h"
#include "hostlib/wave_blocks.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace avikit {

namespace hostlib::detail {
namespace {

// Undetected input kept for the format search; a stream that shows no audio frame in this much
// data is not MPEG audio or AC-3.
constexpr std::size_t kMaxSearchBytes = std::size_t{1} << 20;
// A parser has to deliver this many frames before its format wins: one lucky sync word in
// foreign data must not decide.
constexpr int kFramesToWin = 2;

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct ParserDeleter {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;

// One parser with the codec context it reports into.
struct ParserSlot {
  ParserPtr parser;
  CodecContextPtr context;
  int frames = 0;

  [[nodiscard]] bool open(AVCodecID id) {
    parser.reset(av_parser_init(id));
    context.reset(avcodec_alloc_context3(nullptr));
    frames = 0;
    return parser != nullptr && context != nullptr;
  }
};

struct AudioState {
  int want_rate = 0;
  int want_channels = 0;
  int out_rate = 0;
  int out_channels = 0;
  bool failed = false;
  bool refused = false;  // set_input_format found no decoder: no input is ever taken

  // Before the format is known: both parsers race over the same bytes, which are kept.
  ParserSlot mpeg;
  ParserSlot ac3;
  std::vector<std::uint8_t> search;
  std::vector<std::uint8_t> padded;  // the current input with the padding parsers read
  AVCodecID codec = AV_CODEC_ID_NONE;
  AVCodecID parser_id = AV_CODEC_ID_NONE;
  // Input since the last decoded frame; a stream that yields no sound in kMaxSearchBytes is not
  // what it looked like.
  std::size_t bytes_since_audio = 0;

  // A block-stored format (set_input_format): whole blocks go to the decoder as packets, the
  // rest of the input waits in `partial`.
  int block_bytes = 0;
  bool one_block_per_packet = false;
  std::vector<std::uint8_t> partial;
  std::vector<std::uint8_t> packet_bytes;

  // After: one parser feeding one decoder.
  ParserSlot parser;
  CodecContextPtr decoder;
  std::unique_ptr<AVPacket, PacketDeleter> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameDeleter> frame{av_frame_alloc()};
  PcmResampler pcm;

  [[nodiscard]] bool detect(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] bool open_decoder();
  [[nodiscard]] bool feed(const std::uint8_t* data, std::size_t size);
  [[nodiscard]] bool open_block_decoder(const platform::WAVEFORMATEX& format);
  void feed_blocks(const std::uint8_t* data, std::size_t size);
  void decode_packet(const std::uint8_t* data, int size);
  void take_frame();
};

// Runs bytes through a parser and counts the frames it cuts out.
void count_frames(ParserSlot& slot, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    std::uint8_t* out = nullptr;
    int out_size = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX / 2));
    const int used = av_parser_parse2(slot.parser.get(), slot.context.get(), &out, &out_size, data,
                                      chunk, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (out_size > 0) ++slot.frames;
    if (used <= 0 && out_size <= 0) break;  // the parser wants no more of this data
    const auto step = static_cast<std::size_t>(std::max(used, 0));
    data += step;
    size -= step;
  }
}

}  // namespace

bool AudioState::detect(const std::uint8_t* data, std::size_t size) {
  if (mpeg.parser == nullptr && (!mpeg.open(AV_CODEC_ID_MP3) || !ac3.open(AV_CODEC_ID_AC3))) {
    return false;
  }
  search.insert(search.end(), data, data + size);
  count_frames(mpeg, data, size);
  count_frames(ac3, data, size);
  ParserSlot* winner = nullptr;
  if (mpeg.frames >= kFramesToWin && mpeg.frames >= ac3.frames)
    winner = &mpeg;
  else if (ac3.frames >= kFramesToWin)
    winner = &ac3;
  if (winner == nullptr) {
    if (search.size() <= kMaxSearchBytes) return true;
    return false;
  }
  codec = winner->context->codec_id;
  if (codec == AV_CODEC_ID_NONE) codec = winner == &mpeg ? AV_CODEC_ID_MP3 : AV_CODEC_ID_AC3;
  mpeg = {};
  ac3 = {};
  if (!open_decoder()) return false;
  std::vector<std::uint8_t> pending;
  pending.swap(search);
  const std::size_t held = pending.size();
  pending.resize(held + AV_INPUT_BUFFER_PADDING_SIZE, 0);  // see input()
  return feed(pending.data(), held);
}

bool AudioState::open_decoder() {
  const AVCodec* c = avcodec_find_decoder(codec);
  if (c == nullptr || packet == nullptr || frame == nullptr) return false;
  decoder.reset(avcodec_alloc_context3(c));
  if (decoder == nullptr) return false;
  if (codec == AV_CODEC_ID_AC3 || codec == AV_CODEC_ID_EAC3) {
    // The AC-3 decoder's own downmix uses the centre and surround levels of the stream.
    (void)av_opt_set(decoder.get(), "downmix", "stereo", AV_OPT_SEARCH_CHILDREN);
    // AC-3 frames carry CRCs: a frame that fails them is dropped rather than concealed, which
    // also lets foreign data that merely looked like AC-3 fail instead of playing as silence.
    decoder->err_recognition = AV_EF_CRCCHECK | AV_EF_EXPLODE;
  }
  if (avcodec_open2(decoder.get(), c, nullptr) < 0) {
    decoder.reset();
    return false;
  }
  // The MPEG audio parser covers all three layers and names the layer it saw.
  parser_id =
      codec == AV_CODEC_ID_AC3 || codec == AV_CODEC_ID_EAC3 ? AV_CODEC_ID_AC3 : AV_CODEC_ID_MP3;
  return parser.open(parser_id);
}

bool AudioState::feed(const std::uint8_t* data, std::size_t size) {
  // Every loop consumes input or ends; a parser that makes no progress stops the walk.
  while (size > 0) {
    std::uint8_t* out = nullptr;
    int out_size = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX / 2));
    const int used = av_parser_parse2(parser.parser.get(), parser.context.get(), &out, &out_size,
                                      data, chunk, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (out_size > 0) decode_packet(out, out_size);
    // A parser may hand out a frame it held without taking new bytes; only a call that does
    // neither has stalled.
    if (used <= 0 && out_size <= 0) break;
    const auto step = static_cast<std::size_t>(std::max(used, 0));
    data += step;
    size -= step;
  }
  bytes_since_audio += size;  // bytes a stalled parser left
  return bytes_since_audio <= kMaxSearchBytes;
}

void AudioState::decode_packet(const std::uint8_t* data, int size) {
  // The parser hands out a pointer into its own buffer, which is padded as decoders require.
  packet->data = const_cast<std::uint8_t*>(data);
  packet->size = size;
  const int sent = avcodec_send_packet(decoder.get(), packet.get());
  packet->data = nullptr;
  packet->size = 0;
  bytes_since_audio += static_cast<std::size_t>(size);
  if (sent < 0 && sent != AVERROR(EAGAIN)) return;  // a damaged frame: skip it
  while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
    bytes_since_audio = 0;
    take_frame();
    av_frame_unref(frame.get());
  }
}

void AudioState::take_frame() {
  const int channels = frame->ch_layout.nb_channels;
  const bool wanted = valid_pcm_format(want_rate, want_channels);
  const int rate = wanted ? want_rate : frame->sample_rate;
  const int out = wanted ? want_channels : (channels == 1 ? 1 : 2);
  if (!valid_pcm_format(rate, out)) return;
  const PcmSource source{channels, frame->format, frame->sample_rate};
  if (pcm.push(source, frame->extended_data, frame->nb_samples, rate, out)) {
    out_rate = rate;
    out_channels = out;
  }
}

namespace {

// libavcodec's decoder for sound stored in whole blocks (wave_blocks.h), or none.
AVCodecID block_decoder_id(const platform::WAVEFORMATEX& f) {
  switch (block_codec(f)) {
    case BlockCodec::kU8:
      return AV_CODEC_ID_PCM_U8;
    case BlockCodec::kS16:
      return AV_CODEC_ID_PCM_S16LE;
    case BlockCodec::kS24:
      return AV_CODEC_ID_PCM_S24LE;
    case BlockCodec::kS32:
      return AV_CODEC_ID_PCM_S32LE;
    case BlockCodec::kF32:
      return AV_CODEC_ID_PCM_F32LE;
    case BlockCodec::kF64:
      return AV_CODEC_ID_PCM_F64LE;
    case BlockCodec::kAlaw:
      return AV_CODEC_ID_PCM_ALAW;
    case BlockCodec::kMulaw:
      return AV_CODEC_ID_PCM_MULAW;
    case BlockCodec::kAdpcmMs:
      return AV_CODEC_ID_ADPCM_MS;
    case BlockCodec::kAdpcmIma:
      return AV_CODEC_ID_ADPCM_IMA_WAV;
    case BlockCodec::kNone:
      break;
  }
  return AV_CODEC_ID_NONE;
}

// Whole blocks handed to a PCM decoder at once: about 16 KiB.
constexpr std::size_t kPcmPacketBytes = 16384;

}  // namespace

bool AudioState::open_block_decoder(const platform::WAVEFORMATEX& format) {
  const AVCodecID id = block_decoder_id(format);
  const AVCodec* c = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_decoder(id);
  if (c == nullptr || packet == nullptr || frame == nullptr || !block_layout_usable(format)) {
    return false;
  }
  // An ADPCM block starts with a header per channel (7 bytes MS, 4 IMA); a block that holds no
  // more than that has no sound to give.
  const std::uint32_t header = id == AV_CODEC_ID_ADPCM_MS        ? 7u
                               : id == AV_CODEC_ID_ADPCM_IMA_WAV ? 4u
                                                                 : 0u;
  if (format.nBlockAlign <= header * format.nChannels) return false;
  decoder.reset(avcodec_alloc_context3(c));
  if (decoder == nullptr) return false;
  av_channel_layout_default(&decoder->ch_layout, format.nChannels);
  decoder->sample_rate = static_cast<int>(format.nSamplesPerSec);
  decoder->block_align = format.nBlockAlign;
  decoder->bits_per_coded_sample = format.wBitsPerSample;
  if (avcodec_open2(decoder.get(), c, nullptr) < 0) {
    decoder.reset();
    return false;
  }
  codec = id;
  block_bytes = format.nBlockAlign;
  // ADPCM decoders read one block per packet, as a RIFF demuxer cuts them.
  one_block_per_packet = id == AV_CODEC_ID_ADPCM_MS || id == AV_CODEC_ID_ADPCM_IMA_WAV;
  return true;
}

void AudioState::feed_blocks(const std::uint8_t* data, std::size_t size) {
  partial.insert(partial.end(), data, data + size);
  const auto block = static_cast<std::size_t>(block_bytes);
  std::size_t per_packet = block;
  if (!one_block_per_packet) per_packet = std::max<std::size_t>(1, kPcmPacketBytes / block) * block;
  std::size_t used = 0;
  while (partial.size() - used >= block) {
    const std::size_t n = std::min(per_packet, (partial.size() - used) / block * block);
    // Decoders read up to AV_INPUT_BUFFER_PADDING_SIZE bytes past a packet.
    packet_bytes.assign(partial.begin() + static_cast<std::ptrdiff_t>(used),
                        partial.begin() + static_cast<std::ptrdiff_t>(used + n));
    packet_bytes.resize(n + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    decode_packet(packet_bytes.data(), static_cast<int>(n));
    used += n;
  }
  partial.erase(partial.begin(), partial.begin() + static_cast<std::ptrdiff_t>(used));
}

namespace {

class AvAudioDecoding final : public AudioDecoding {
 public:
  int can_you_decode_this(int ac3, int sample_rate, int channels) override {
    // MPEG audio exists at 8 to 48 kHz in one or two channels; AC-3 at 32, 44.1 and 48 kHz with up
    // to six channels.
    if (ac3 != 0) {
      if (sample_rate != 32000 && sample_rate != 44100 && sample_rate != 48000) return 0;
      if (channels < 1 || channels > 6) return 0;
      return avcodec_find_decoder(AV_CODEC_ID_AC3) != nullptr ? 1 : 0;
    }
    switch (sample_rate) {
      case 8000:
      case 11025:
      case 12000:
      case 16000:
      case 22050:
      case 24000:
      case 32000:
      case 44100:
      case 48000:
        break;
      default:
        return 0;
    }
    if (channels < 1 || channels > 2) return 0;
    return avcodec_find_decoder(AV_CODEC_ID_MP3) != nullptr ? 1 : 0;
  }

  int set_input_format(const platform::WAVEFORMATEX& format) override {
    AudioState& s = s_;
    switch (format.wFormatTag) {
      case platform::WAVE_FORMAT_MPEG:
      case platform::WAVE_FORMAT_MPEGLAYER3:
      case platform::WAVE_FORMAT_DOLBY_AC3: {
        const int ac3 = format.wFormatTag == platform::WAVE_FORMAT_DOLBY_AC3 ? 1 : 0;
        const auto rate = static_cast<int>(std::min<std::uint32_t>(format.nSamplesPerSec, INT_MAX));
        return can_you_decode_this(ac3, rate, format.nChannels);
      }
      default:
        break;
    }
    s.decoder.reset();
    s.codec = AV_CODEC_ID_NONE;
    try {
      if (s.open_block_decoder(format)) return 1;
    } catch (...) {  // std::bad_alloc
    }
    s.refused = true;
    return 0;
  }

  int set_output_format(int sample_rate, int channels) override {
    if (!valid_pcm_format(sample_rate, channels)) return 0;
    s_.want_rate = sample_rate;
    s_.want_channels = channels;
    return 1;
  }

  int re_start() override {
    AudioState& s = s_;
    s.pcm.reset();
    s.failed = false;
    s.bytes_since_audio = 0;
    if (s.codec == AV_CODEC_ID_NONE) {
      s.search.clear();
      s.mpeg = {};
      s.ac3 = {};
      return 1;
    }
    if (s.decoder != nullptr) avcodec_flush_buffers(s.decoder.get());
    s.partial.clear();
    if (s.block_bytes != 0) return 1;
    // A fresh parser forgets the partial frame it held from before the seek.
    if (!s.parser.open(s.parser_id)) s.failed = true;
    return 1;
  }

  int input(const void* bytes, int count) override {
    AudioState& s = s_;
    if (bytes == nullptr || count < 0 || s.failed || s.refused) return 1;
    if (count == 0) return 0;
    try {
      // libavcodec's parsers read up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end of what
      // they are given, so they only ever see this zero-padded copy.
      const auto size = static_cast<std::size_t>(count);
      s.padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE);
      std::memcpy(s.padded.data(), bytes, size);
      std::memset(s.padded.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
      const std::uint8_t* data = s.padded.data();
      bool ok = true;
      if (s.block_bytes != 0) {
        s.feed_blocks(data, size);
      } else {
        ok = s.codec == AV_CODEC_ID_NONE ? s.detect(data, size) : s.feed(data, size);
      }
      if (!ok) s.failed = true;
    } catch (...) {  // std::bad_alloc from a buffer: stop decoding rather than throw at the host
      s.failed = true;
    }
    return s.failed ? 1 : 0;
  }

  int get_output_total() const override {
    const std::size_t bytes = s_.pcm.queued() * sizeof(std::int16_t);
    return static_cast<int>(std::min<std::size_t>(bytes, INT_MAX));
  }

  int output(std::int16_t* pcm, int count) override {
    if (pcm == nullptr || count <= 0) return 0;
    return static_cast<int>(s_.pcm.pop(pcm, static_cast<std::size_t>(count)));
  }

  void get_output_format(int& sample_rate, int& channels) const override {
    const AudioState& s = s_;
    if (valid_pcm_format(s.want_rate, s.want_channels)) {
      sample_rate = s.want_rate;
      channels = s.want_channels;
      return;
    }
    sample_rate = s.out_rate;
    channels = s.out_channels;
  }

 private:
  AudioState s_;
};

}  // namespace

AudioDecoding* new_audio_decoding() { return new (std::nothrow) AvAudioDecoding; }

AudioDecoder::FrameSpan measure_frames(int ac3, const std::uint8_t* data, std::size_t size) {
  AudioDecoder::FrameSpan span;
  ParserSlot slot;
  if (data == nullptr || !slot.open(ac3 != 0 ? AV_CODEC_ID_AC3 : AV_CODEC_ID_MP3)) return span;
  std::vector<std::uint8_t> padded(data, data + size);
  padded.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const std::uint8_t* p = padded.data();
  std::size_t left = size;
  while (left > 0) {
    std::uint8_t* out = nullptr;
    int out_size = 0;
    const int chunk = static_cast<int>(std::min<std::size_t>(left, INT_MAX / 2));
    const int used = av_parser_parse2(slot.parser.get(), slot.context.get(), &out, &out_size, p,
                                      chunk, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (out_size > 0 && slot.parser->duration > 0 && slot.context->sample_rate > 0) {
      // One rate per stream: a frame at another rate is foreign data the parser took for sound.
      if (span.sample_rate == 0) span.sample_rate = slot.context->sample_rate;
      if (slot.context->sample_rate == span.sample_rate) {
        ++span.frames;
        span.bytes += static_cast<std::uint64_t>(out_size);
        span.samples += static_cast<std::uint64_t>(slot.parser->duration);
      }
    }
    if (used <= 0 && out_size <= 0) break;
    const auto step = static_cast<std::size_t>(std::max(used, 0));
    p += step;
    left -= step;
  }
  return span;
}

}  // namespace hostlib::detail

}  // namespace avikit
