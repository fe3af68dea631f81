#include "container/header_parser.h"

#include <algorithm>

#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace avikit::container::detail {

StreamHeader decode_stream_header(const std::uint8_t* data, std::size_t size) {
  ByteCursor c(data, std::min<std::size_t>(size, kStreamHeaderSize));
  StreamHeader h;
  h.type = c.u32();
  h.handler = c.u32();
  c.seek(20);
  h.scale = c.u32();
  h.rate = c.u32();
  h.start = c.u32();
  h.length = c.u32();
  c.seek(52);
  h.frame_right = c.i16();
  h.frame_bottom = c.i16();
  return h;
}

platform::BITMAPINFOHEADER decode_bitmap_info(const std::uint8_t* data, std::size_t size) {
  ByteCursor c(data, size);
  platform::BITMAPINFOHEADER b;
  b.biSize = c.u32();
  b.biWidth = c.i32();
  b.biHeight = c.i32();
  b.biPlanes = c.u16();
  b.biBitCount = c.u16();
  b.biCompression = c.u32();
  b.biSizeImage = c.u32();
  b.biXPelsPerMeter = c.i32();
  b.biYPelsPerMeter = c.i32();
  b.biClrUsed = c.u32();
  b.biClrImportant = c.u32();
  return b;
}

platform::WAVEFORMATEX decode_wave_format(const std::uint8_t* data, std::size_t size) {
  ByteCursor c(data, std::min<std::size_t>(size, kWaveFormatExtensibleSize));
  platform::WAVEFORMATEX w;
  w.wFormatTag = c.u16();
  w.nChannels = c.u16();
  w.nSamplesPerSec = c.u32();
  w.nAvgBytesPerSec = c.u32();
  w.nBlockAlign = c.u16();
  w.wBitsPerSample = c.u16();
  w.cbSize = c.u16();
  if (w.wFormatTag != kWaveFormatExtensible || size < kWaveFormatExtensibleSize) return w;
  // SubFormat {tag-0000-0010-8000-00AA00389B71} (KSDATAFORMAT_SUBTYPE_*): the last 14 bytes are
  // fixed, the first two carry the format tag.
  static constexpr std::uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  const std::uint8_t* guid = data + 24;
  if (std::equal(std::begin(kGuidTail), std::end(kGuidTail), guid + 2)) {
    w.wFormatTag = static_cast<std::uint16_t>(guid[0] | guid[1] << 8);
  }
  return w;
}

float stream_frame_rate(std::uint32_t rate, std::uint32_t scale, bool limit_to_60) {
  // A zero dwScale would make the rate infinite (or NaN): report no rate instead.
  if (scale == 0) return 0.0f;
  const float fps = static_cast<float>(rate) / static_cast<float>(scale);
  return limit_to_60 && fps > 60.0f ? 60.0f : fps;
}

float audio_kbit_rate(std::uint32_t avg_bytes_per_sec) {
  const std::uint32_t bits = avg_bytes_per_sec * 8u;  // Compat: wraps as a 32-bit product.
  return static_cast<float>(bits) * 0.001f;
}

DvAudioLayout dv_audio_layout(const std::uint8_t (&dvinfo)[kDvInfoSize]) {
  // DVINFO: dwDVAAuxSrc byte 3 bits 3-5 carry the sampling frequency (IEC 61834-4 AAUX source
  // pack SMP); dwDVVAuxSrc byte 2 bit 5 is the 50/60 flag of the VAUX source pack.
  const unsigned code = (dvinfo[3] >> 3) & 0x7u;
  DvAudioLayout out;
  out.fifty_field = (dvinfo[18] & 0x20) != 0;
  struct RateRow {
    std::uint32_t rate;
    std::int32_t per_10_frames_50;
    std::int32_t per_10_frames_60;
  };
  static constexpr RateRow kRates[3] = {
      {48000, 19200, 16016}, {44100, 17640, 14715}, {32000, 12800, 10677}};
  if (code < 3) {
    out.known_rate = true;
    out.sample_rate = kRates[code].rate;
    out.samples_per_10_frames =
        out.fifty_field ? kRates[code].per_10_frames_50 : kRates[code].per_10_frames_60;
  }
  // Sample i of one frame, shuffled over the DIF sequences and blocks as IEC 61834-2 lays the
  // audio out: 54 (50-field) or 45 (60-field) samples per audio block, 9 audio blocks per DIF
  // sequence (80-byte blocks, 150 per sequence, 6000 bytes per sequence of 12000 samples...).
  const std::uint32_t per_block = out.fifty_field ? 54 : 45;
  const std::uint32_t sequences = out.fifty_field ? 6 : 5;
  const std::uint32_t count = out.fifty_field ? 1944 : 1620;
  out.channel2_offset = out.fifty_field ? 72000 : 60000;
  out.offsets.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t in_block = i % per_block;
    out.offsets[i] = 2 * (i / per_block + 640 * (in_block / (per_block / 3) + 3 * (i % 3)) +
                          6000 * ((i / 3 + 2 * (i % 3)) % sequences)) +
                     488;
  }
  return out;
}

void use_dv_sound_layout(AudioStreamRecord& a, DvSoundLayout& dv,
                         const std::uint8_t (&dvinfo)[kDvInfoSize]) {
  DvAudioLayout layout = dv_audio_layout(dvinfo);
  a.format.nSamplesPerSec = layout.sample_rate;
  a.format.nAvgBytesPerSec = layout.sample_rate * 4;
  a.bit_rate = static_cast<float>(layout.sample_rate * 32u) * 0.001f;
  if (layout.known_rate) dv.samples_per_10_frames = layout.samples_per_10_frames;
  dv.offsets = std::move(layout.offsets);
  dv.channel2_offset = layout.channel2_offset;
}

}  // namespace avikit::container::detail

namespace avikit::container {

using namespace detail;

std::uint32_t HeaderParser::read_chunk_header(ChunkHeader& header) {
  return riff_.read_chunk_header(header, true, file_end_);
}

std::optional<ParsedHeaders> HeaderParser::parse_avi(const ChunkRecord& avih) {
  out_ = ParsedHeaders{};
  riff_.seek(static_cast<std::int64_t>(avih.position), SeekOrigin::kBegin);
  out_.table.file_size = riff_.file_size();
  file_end_ = out_.table.file_size;

  std::uint8_t main_header[kMainHeaderSize] = {};
  if (avih.size < kMainHeaderSize || riff_.read(main_header, kMainHeaderSize) != kMainHeaderSize) {
    return std::nullopt;
  }
  riff_.seek(avih.size - kMainHeaderSize, SeekOrigin::kCurrent);
  ChunkHeader in_hand;
  bool have_header = false;
  if (!parse_stream_lists(in_hand, have_header)) return std::nullopt;
  // Step back over the header that ended the stream lists so the body scan sees it.
  const std::uint64_t back = in_hand.list_type != 0 ? 12 : 8;
  if (have_header && in_hand.id != 0 && riff_.position() >= back) {
    riff_.seek(static_cast<std::int64_t>(riff_.position() - back), SeekOrigin::kBegin);
  }
  out_.records.push_back(ChunkRecord{-1, kSend, 0, riff_.position()});
  return std::move(out_);
}

// Walks the "strl" lists of the header. dwStreams is not trusted to end the walk: writers leave
// it 0 or 1 with more lists present, so every list there is counts, up to the 256 streams a chunk
// id can name. The lists end, successfully, at the end of the header list: a "LIST" "movi", a
// "RIFF", or a header the reader cannot give (id 0); so a file announcing more streams than it
// holds keeps the ones it has. On return the header in hand (when `have_header`) is the first one
// the lists did not consume.
bool HeaderParser::parse_stream_lists(ChunkHeader& in_hand, bool& have_header) {
  std::uint32_t s = 0;
  while (s < kMaxStreamLists) {
    // Find the next "LIST" "strl"; other chunks are stepped over, other lists entered. Every
    // pass reads a header, so the search moves forward and ends with the file.
    for (;;) {
      if (have_header) {
        if (in_hand.id == 0) return true;
        if (in_hand.id == kList && in_hand.list_type == kStrl) break;
        if (in_hand.id == kRiff || (in_hand.id == kList && in_hand.list_type == kMovi)) {
          return true;
        }
        if (in_hand.id != kList) riff_.skip_chunk_data(in_hand);
      }
      read_chunk_header(in_hand);
      have_header = true;
    }
    read_chunk_header(in_hand);
    if (in_hand.id != kStrh) continue;
    if (!parse_stream_header(s, in_hand, have_header)) return false;
    ++s;
    out_.table.stream_lists = s;
  }
  return true;
}

// One stream list from its "strh" on: the stream's records, then an optional "indx".
bool HeaderParser::parse_stream_header(std::uint32_t stream, ChunkHeader& header,
                                       bool& have_header) {
  if (header.size == 0) return false;
  std::uint8_t strh[kStreamHeaderSize] = {};
  riff_.read(strh, std::min(header.size, kStreamHeaderSize));
  if (header.size > kStreamHeaderSize) {
    riff_.seek(header.size - kStreamHeaderSize, SeekOrigin::kCurrent);
  }
  const StreamHeader h = decode_stream_header(strh, kStreamHeaderSize);
  have_header = false;
  if (h.type == kVids) {
    parse_video_stream(stream, strh, header, have_header);
  } else if (h.type == kAuds) {
    parse_audio_stream(stream, header, have_header);
    if (h.rate != 0) {
      out_.table.audio.back().start = static_cast<double>(h.start) * h.scale / h.rate;
    }
  } else if (h.type == kIavs) {
    parse_dv_stream(stream, strh, header, have_header);
  }
  // A format parse hands back the header it read when that was not a "strf", so a stream list
  // without a format does not lose the chunk that follows.
  if (!have_header) {
    read_chunk_header(header);
    have_header = true;
  }
  if (header.id == kIndx) {
    out_.has_indx = true;
    out_.records.push_back(
        ChunkRecord{static_cast<std::int32_t>(stream), kIndx, header.size, riff_.position()});
    riff_.seek(header.size, SeekOrigin::kCurrent);
    have_header = false;  // Consumed: nothing to step back over.
  }
  return true;
}

void HeaderParser::parse_video_stream(std::uint32_t stream, const std::uint8_t* strh,
                                      ChunkHeader& next, bool& have_next) {
  const StreamHeader h = decode_stream_header(strh, kStreamHeaderSize);
  VideoStreamRecord r;
  r.stream = stream;
  r.handler = h.handler;
  r.frame_count = h.length;
  r.frame_rate = stream_frame_rate(h.rate, h.scale, true);
  r.rate = h.rate;
  r.scale = h.scale;
  if (read_chunk_header(next) == kStrf) {
    const std::uint64_t at = riff_.position();
    std::uint8_t bih[kBitmapInfoSize] = {};
    // A short format is malformed: read what it holds and go on from its end.
    riff_.read(bih, std::min(next.size, kBitmapInfoSize));
    r.format = decode_bitmap_info(bih, kBitmapInfoSize);
    switch (r.format.biBitCount) {
      case 1:
      case 4:
      case 8:
      case 16:
      case 24:
      case 32:
        break;
      default:
        r.format.biBitCount = 24;
    }
    // A palette, or codec data after the header, must be handed to the codec later.
    if (r.format.biBitCount <= 8 || next.size > kBitmapInfoSize ||
        r.format.biSize > kBitmapInfoSize) {
      out_.records.push_back(ChunkRecord{static_cast<std::int32_t>(stream), kStrf, next.size, at});
      r.full_format = 1;
    }
    r.format.biSize = kBitmapInfoSize;
    if (next.size > kBitmapInfoSize) riff_.seek(next.size - kBitmapInfoSize, SeekOrigin::kCurrent);
  } else {
    have_next = true;
  }
  out_.table.video.push_back(r);
}

void HeaderParser::parse_audio_stream(std::uint32_t stream, ChunkHeader& next, bool& have_next) {
  AudioStreamRecord r;
  r.stream = stream;
  if (read_chunk_header(next) == kStrf) {
    std::uint8_t wfx[kWaveFormatExtensibleSize] = {};
    const std::uint32_t got = std::min(next.size, kWaveFormatExtensibleSize);
    riff_.read(wfx, got);
    r.format = decode_wave_format(wfx, got);
    if (next.size > got) riff_.seek(next.size - got, SeekOrigin::kCurrent);
    r.bit_rate = audio_kbit_rate(r.format.nAvgBytesPerSec);
  } else {
    have_next = true;
  }
  out_.table.audio.push_back(r);
}

void HeaderParser::parse_dv_stream(std::uint32_t stream, const std::uint8_t* strh,
                                   ChunkHeader& next, bool& have_next) {
  const StreamHeader h = decode_stream_header(strh, kStreamHeaderSize);
  VideoStreamRecord v;
  v.stream = stream;
  v.format.biSize = kBitmapInfoSize;
  v.format.biWidth = h.frame_right;
  v.format.biHeight = h.frame_bottom;
  v.format.biPlanes = 1;
  v.format.biBitCount = 24;
  v.format.biCompression = kDvsdLower;
  v.handler = h.handler;
  v.frame_count = h.length;
  v.frame_rate = stream_frame_rate(h.rate, h.scale, false);
  v.rate = h.rate;
  v.scale = h.scale;
  v.full_format = 1;
  if (v.format.biWidth == 0 || v.format.biHeight == 0) {
    // 29.97 frames per second is the 525-line system.
    const double hundredfold = static_cast<double>(v.frame_rate) * 100.0;
    v.format.biWidth = 720;
    v.format.biHeight = hundredfold >= 2997.0 && hundredfold < 2998.0 ? 480 : 576;
  }
  std::uint8_t dvinfo[kDvInfoSize] = {};
  if (read_chunk_header(next) == kStrf) {
    out_.records.push_back(
        ChunkRecord{static_cast<std::int32_t>(stream), kStrf, next.size, riff_.position()});
    const std::uint32_t got = std::min(next.size, kDvInfoSize);
    riff_.read(dvinfo, got);
    if (next.size > got) riff_.seek(next.size - got, SeekOrigin::kCurrent);
  } else {
    have_next = true;
  }
  out_.table.video.push_back(v);
  out_.dv_type1 = true;

  AudioStreamRecord a;
  a.stream = stream + 1;  // The sound has no stream of its own in the file.
  a.format.wFormatTag = platform::WAVE_FORMAT_PCM;
  a.format.nChannels = 2;
  a.format.wBitsPerSample = 16;
  a.format.nBlockAlign = 4;
  const std::uint32_t scaled_length = h.scale * h.length;  // Compat: a 32-bit product.
  a.length = h.rate != 0 ? static_cast<double>(scaled_length) / h.rate : 0.0;
  use_dv_sound_layout(a, out_.table.dv_sound, dvinfo);
  out_.table.audio.push_back(a);
}

std::optional<ParsedHeaders> HeaderParser::parse_wave() {
  out_ = ParsedHeaders{};
  file_end_.reset();
  // Writers put "LIST" INFO, "fact", "bext", "JUNK", "id3 " or "cue " chunks around "fmt " and
  // "data"; the reader skips the others itself and hands lists back, which are stepped over
  // here. Each pass reads a header, so the walk moves forward and ends with the file.
  const auto next_chunk = [this](ChunkHeader& h) {
    while (read_chunk_header(h) == kList || h.id == kRiff) riff_.skip_chunk_data(h);
    return h.id;
  };
  ChunkHeader h;
  if (next_chunk(h) != kFmt) return std::nullopt;
  const std::uint64_t file_size = riff_.file_size();
  out_.table.file_size = file_size;
  file_end_ = file_size;
  AudioStreamRecord r;
  r.stream = 0;
  std::uint8_t wfx[kWaveFormatExtensibleSize] = {};
  const std::uint32_t got = std::min(h.size, kWaveFormatExtensibleSize);
  riff_.read(wfx, got);
  r.format = decode_wave_format(wfx, got);
  r.bit_rate = audio_kbit_rate(r.format.nAvgBytesPerSec);
  if (h.size > got) riff_.seek(h.size - got, SeekOrigin::kCurrent);
  if (next_chunk(h) != kData) return std::nullopt;
  // A WAVE written as a stream (to a pipe) leaves the size 0 or 0xFFFFFFFF: the sound then runs
  // to the end of the file.
  const std::uint64_t room = file_size > riff_.position() ? file_size - riff_.position() : 0;
  std::uint64_t data_size = h.size;
  if (h.size == 0 || h.size == 0xFFFFFFFFu) data_size = std::min<std::uint64_t>(room, 0xFFFFFFFEu);
  out_.records.push_back(
      ChunkRecord{0, fourcc("WAVE"), static_cast<std::uint32_t>(data_size), riff_.position()});
  r.length = r.format.nAvgBytesPerSec != 0
                 ? static_cast<double>(data_size) / r.format.nAvgBytesPerSec
                 : 0.0;
  out_.table.audio.push_back(r);
  return std::move(out_);
}

}  // namespace avikit::container
