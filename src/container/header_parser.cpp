#include "container/header_parser.h"

#include <algorithm>

#include "container/avi_container.h"
#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace avikit {

namespace container::detail {

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

}  // namespace container::detail

using namespace container;
using namespace container::detail;

void AviContainer::skip_chunk_data(const ChunkHeader& header) {
  // "RIFF" and "LIST" have already given up the 4 bytes of their type.
  if (header.id == kRiff || header.id == kList) {
    if (header.size > 4) seek_tracked(header.size - 4, SeekOrigin::kCurrent);
  } else {
    seek_tracked(header.size, SeekOrigin::kCurrent);
  }
}

int AviContainer::parse_headers() {
  if ((flags_ & AVC_OPENED) == 0) return 0;
  if ((flags_ & AVC_HEADERS) != 0) return stream_table_ ? 1 : 0;
  FileLease lease(*this);
  if (!lease.ok() || chunk_records_.empty() || chunk_records_.front().fourcc != kAvih) return 0;

  // A failed parse leaves no trace, so a later attempt starts clean.
  const std::size_t records_before = chunk_records_.size();
  const std::uint32_t flags_before = flags_;
  const ChunkRecord avih = chunk_records_.front();
  seek_tracked(static_cast<std::int64_t>(avih.position), SeekOrigin::kBegin);
  if (!stream_table_) stream_table_ = std::make_unique<StreamTable>();
  stream_table_->file_size = riff_.file_size();

  int ok = 0;
  std::uint8_t main_header[kMainHeaderSize] = {};
  if (avih.size >= kMainHeaderSize && read_bytes(main_header, kMainHeaderSize) == kMainHeaderSize) {
    seek_tracked(avih.size - kMainHeaderSize, SeekOrigin::kCurrent);
    ChunkHeader in_hand;
    bool have_header = false;
    ok = parse_stream_lists(in_hand, have_header);
    if (ok != 0) {
      flags_ |= AVC_HEADERS;
      // Step back over the header that ended the stream lists so the body scan sees it.
      const std::uint64_t back = in_hand.list_type != 0 ? 12 : 8;
      if (have_header && in_hand.id != 0 && riff_.position() >= back) {
        seek_tracked(static_cast<std::int64_t>(riff_.position() - back), SeekOrigin::kBegin);
      }
      chunk_records_.push_back(ChunkRecord{-1, kSend, 0, riff_.position()});
    }
  }
  if (ok == 0) {
    stream_table_.reset();
    chunk_records_.resize(records_before);
    dv_audio_offsets_.clear();
    flags_ = flags_before & ~AVC_HEADERS;
  }
  return ok;
}

// Walks the "strl" lists of the header. dwStreams is not trusted to end the walk: writers leave
// it 0 or 1 with more lists present, so every list there is counts, up to the 256 streams a chunk
// id can name. The lists end, successfully, at the end of the header list: a "LIST" "movi", a
// "RIFF", or a header the reader cannot give (id 0); so a file announcing more streams than it
// holds keeps the ones it has. On return the header in hand (when `have_header`) is the first one
// the lists did not consume.
int AviContainer::parse_stream_lists(ChunkHeader& in_hand, bool& have_header) {
  std::uint32_t s = 0;
  while (s < kMaxStreamLists) {
    // Find the next "LIST" "strl"; other chunks are stepped over, other lists entered. Every
    // pass reads a header, so the search moves forward and ends with the file.
    for (;;) {
      if (have_header) {
        if (in_hand.id == 0) return 1;
        if (in_hand.id == kList && in_hand.list_type == kStrl) break;
        if (in_hand.id == kRiff || (in_hand.id == kList && in_hand.list_type == kMovi)) return 1;
        if (in_hand.id != kList) skip_chunk_data(in_hand);
      }
      read_chunk_header(in_hand, true);
      have_header = true;
    }
    read_chunk_header(in_hand, true);
    if (in_hand.id != kStrh) continue;
    if (parse_stream_header(s, in_hand, have_header) == 0) return 0;
    ++s;
    stream_table_->stream_lists = s;
  }
  return 1;
}

// One stream list from its "strh" on: the stream's records, then an optional "indx".
int AviContainer::parse_stream_header(std::uint32_t stream, ChunkHeader& header,
                                      bool& have_header) {
  if (header.size == 0) return 0;
  std::uint8_t strh[kStreamHeaderSize] = {};
  read_bytes(strh, std::min(header.size, kStreamHeaderSize));
  if (header.size > kStreamHeaderSize) {
    seek_tracked(header.size - kStreamHeaderSize, SeekOrigin::kCurrent);
  }
  const std::uint32_t type = decode_stream_header(strh, kStreamHeaderSize).type;
  have_header = false;
  if (type == kVids) {
    parse_video_stream(stream, strh, header, have_header);
  } else if (type == kAuds) {
    parse_audio_stream(stream, header, have_header);
    const StreamHeader h = decode_stream_header(strh, kStreamHeaderSize);
    if (h.rate != 0) {
      stream_table_->audio.back().start = static_cast<double>(h.start) * h.scale / h.rate;
    }
  } else if (type == kIavs) {
    parse_dv_stream(stream, strh, header, have_header);
  }
  // A format parse hands back the header it read when that was not a "strf", so a stream list
  // without a format does not lose the chunk that follows.
  if (!have_header) {
    read_chunk_header(header, true);
    have_header = true;
  }
  if (header.id == kIndx) {
    flags_ |= AVC_HAS_INDX;
    chunk_records_.push_back(
        ChunkRecord{static_cast<std::int32_t>(stream), kIndx, header.size, riff_.position()});
    seek_tracked(header.size, SeekOrigin::kCurrent);
    have_header = false;  // Consumed: nothing to step back over.
  }
  return 1;
}

void AviContainer::parse_video_stream(std::uint32_t stream, const std::uint8_t* strh,
                                      ChunkHeader& next, bool& have_next) {
  const StreamHeader h = decode_stream_header(strh, kStreamHeaderSize);
  VideoStreamRecord r;
  r.stream = stream;
  r.handler = h.handler;
  r.frame_count = h.length;
  r.frame_rate = stream_frame_rate(h.rate, h.scale, true);
  r.rate = h.rate;
  r.scale = h.scale;
  if (read_chunk_header(next, true) == kStrf) {
    const std::uint64_t at = riff_.position();
    std::uint8_t bih[kBitmapInfoSize] = {};
    // A short format is malformed: read what it holds and go on from its end.
    read_bytes(bih, std::min(next.size, kBitmapInfoSize));
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
      chunk_records_.push_back(
          ChunkRecord{static_cast<std::int32_t>(stream), kStrf, next.size, at});
      r.full_format = 1;
    }
    r.format.biSize = kBitmapInfoSize;
    if (next.size > kBitmapInfoSize) {
      seek_tracked(next.size - kBitmapInfoSize, SeekOrigin::kCurrent);
    }
  } else {
    have_next = true;
  }
  stream_table_->video.push_back(r);
}

void AviContainer::parse_audio_stream(std::uint32_t stream, ChunkHeader& next, bool& have_next) {
  AudioStreamRecord r;
  r.stream = stream;
  if (read_chunk_header(next, true) == kStrf) {
    std::uint8_t wfx[kWaveFormatExtensibleSize] = {};
    const std::uint32_t got = std::min(next.size, kWaveFormatExtensibleSize);
    read_bytes(wfx, got);
    r.format = decode_wave_format(wfx, got);
    if (next.size > got) seek_tracked(next.size - got, SeekOrigin::kCurrent);
    r.bit_rate = audio_kbit_rate(r.format.nAvgBytesPerSec);
  } else {
    have_next = true;
  }
  stream_table_->audio.push_back(r);
}

void AviContainer::parse_dv_stream(std::uint32_t stream, const std::uint8_t* strh,
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
  if (read_chunk_header(next, true) == kStrf) {
    chunk_records_.push_back(
        ChunkRecord{static_cast<std::int32_t>(stream), kStrf, next.size, riff_.position()});
    const std::uint32_t got = std::min(next.size, kDvInfoSize);
    read_bytes(dvinfo, got);
    if (next.size > got) seek_tracked(next.size - got, SeekOrigin::kCurrent);
  } else {
    have_next = true;
  }
  stream_table_->video.push_back(v);
  flags_ |= AVC_DV_TYPE1;

  AudioStreamRecord a;
  a.stream = stream + 1;  // The sound has no stream of its own in the file.
  a.format.wFormatTag = platform::WAVE_FORMAT_PCM;
  a.format.nChannels = 2;
  a.format.wBitsPerSample = 16;
  a.format.nBlockAlign = 4;
  const std::uint32_t scaled_length = h.scale * h.length;  // Compat: a 32-bit product.
  a.length = h.rate != 0 ? static_cast<double>(scaled_length) / h.rate : 0.0;
  use_dv_sound_layout(a, dvinfo);
  stream_table_->audio.push_back(a);
}

void AviContainer::use_dv_sound_layout(AudioStreamRecord& a,
                                       const std::uint8_t (&dvinfo)[kDvInfoSize]) {
  DvAudioLayout layout = dv_audio_layout(dvinfo);
  a.format.nSamplesPerSec = layout.sample_rate;
  a.format.nAvgBytesPerSec = layout.sample_rate * 4;
  a.bit_rate = static_cast<float>(layout.sample_rate * 32u) * 0.001f;
  if (layout.known_rate) dv_samples_per_10_frames_ = layout.samples_per_10_frames;
  dv_audio_offsets_ = std::move(layout.offsets);
  dv_channel2_offset_ = layout.channel2_offset;
}

namespace {

// Where a DV frame repeats what DVINFO holds: the AAUX source pack of the first audio block
// (pack header, then the four bytes of dwDVAAuxSrc) and the VAUX source pack (the four bytes of
// dwDVVAuxSrc), both in DIF sequence 1, where the sound reader takes them too.
constexpr std::size_t kAauxSourcePack = 12483;
constexpr std::size_t kVauxSourceBytes = 12244;
constexpr std::uint8_t kAauxSourceHeader = 0x50;
constexpr std::size_t kDvFrameHead = kAauxSourcePack + 5;

// 1 for the 625/50 system, 0 for 525/60, -1 when the frame says neither. A whole frame has the
// size of its system, and the decoder reads that many bytes, so the size comes first; a chunk
// of another length (damaged, or padded) is asked its DIF header block (IEC 61834: section type
// 0 in ID0, the three reserved bits of ID1 set, block number 0), whose DSF bit is 1 for 625/50.
int dv_system_of(std::uint32_t chunk_size, const std::uint8_t* head, std::uint32_t got) {
  if (chunk_size == 144000) return 1;
  if (chunk_size == 120000) return 0;
  if (got >= 4 && (head[0] >> 5) == 0 && (head[1] & 7) == 7 && head[2] == 0) return head[3] >> 7;
  return -1;
}

}  // namespace

// The frames, not the header, say which DV system a stream is: writers copy a header from a
// template of the other system often enough. The picture height follows the frames, and so do
// the DV type-1 sound layout and, when DVINFO is empty or zero-filled, the sound format, which
// the first frame's AAUX source pack then gives.
void AviContainer::settle_dv_system(VideoStreamRecord& video, const ChunkIndex& index) {
  const bool type1 = (flags_ & AVC_DV_TYPE1) != 0;
  if (index.size() == 0 || (!type1 && video.handler != kDvsdLower && video.handler != kDvsdUpper)) {
    return;
  }
  std::uint8_t head[kDvFrameHead] = {};
  const std::uint32_t want = std::min<std::uint32_t>(index.first.size, kDvFrameHead);
  const std::uint32_t got = read_at(index.first.position, head, want);
  const int system = dv_system_of(index.first.size, head, got);
  const bool is625 = system >= 0 ? system == 1 : video.format.biHeight != 480;
  const std::int32_t lines = is625 ? 576 : 480;
  if (system >= 0 && (video.format.biHeight == 480 || video.format.biHeight == 576)) {
    video.format.biHeight = lines;
  }
  // Compat: a DV picture is 720 x 480 or 576 whatever the header claims. A larger claim would
  // only pad it with black, at the cost of bitmaps as large as the claim (a few hundred bytes
  // claiming 16384 x 16384 took 1.6 GB), so it gets the picture's own size, as other players
  // show it; a smaller claim keeps its crop.
  if (video.format.biWidth > 720 || video.format.biHeight > lines) {
    video.format.biWidth = 720;
    video.format.biHeight = lines;
  }
  if (system < 0 || !type1) return;
  AudioStreamRecord* sound = nullptr;
  for (AudioStreamRecord& a : stream_table_->audio) {
    if (a.stream == video.stream + 1) sound = &a;
  }
  const ChunkRecord* strf = find_chunk_record(kStrf, static_cast<std::int32_t>(video.stream));
  if (sound == nullptr || strf == nullptr) return;
  std::uint8_t dvinfo[kDvInfoSize] = {};
  read_at(strf->position, dvinfo, std::min(strf->size, kDvInfoSize));
  if (std::all_of(std::begin(dvinfo), std::end(dvinfo), [](std::uint8_t b) { return b == 0; })) {
    if (got < kDvFrameHead || head[kAauxSourcePack] != kAauxSourceHeader) return;
    std::copy_n(head + kAauxSourcePack + 1, 4, dvinfo);
    std::copy_n(head + kVauxSourceBytes, 4, dvinfo + 16);
  }
  dvinfo[18] = static_cast<std::uint8_t>((dvinfo[18] & ~0x20) | (is625 ? 0x20 : 0));
  use_dv_sound_layout(*sound, dvinfo);
}

int AviContainer::parse_wave() {
  // Writers put "LIST" INFO, "fact", "bext", "JUNK", "id3 " or "cue " chunks around "fmt " and
  // "data"; the reader skips the others itself and hands lists back, which are stepped over
  // here. Each pass reads a header, so the walk moves forward and ends with the file.
  const auto next_chunk = [this](ChunkHeader& h) {
    while (read_chunk_header(h, true) == kList || h.id == kRiff) skip_chunk_data(h);
    return h.id;
  };
  ChunkHeader h;
  if (next_chunk(h) != kFmt) return 0;
  if (!stream_table_) stream_table_ = std::make_unique<StreamTable>();
  const std::uint64_t file_size = riff_.file_size();
  stream_table_->file_size = file_size;
  AudioStreamRecord r;
  r.stream = 0;
  std::uint8_t wfx[kWaveFormatExtensibleSize] = {};
  const std::uint32_t got = std::min(h.size, kWaveFormatExtensibleSize);
  read_bytes(wfx, got);
  r.format = decode_wave_format(wfx, got);
  r.bit_rate = audio_kbit_rate(r.format.nAvgBytesPerSec);
  if (h.size > got) seek_tracked(h.size - got, SeekOrigin::kCurrent);
  if (next_chunk(h) != kData) return 0;
  // A WAVE written as a stream (to a pipe) leaves the size 0 or 0xFFFFFFFF: the sound then runs
  // to the end of the file.
  const std::uint64_t room = file_size > riff_.position() ? file_size - riff_.position() : 0;
  std::uint64_t data_size = h.size;
  if (h.size == 0 || h.size == 0xFFFFFFFFu) data_size = std::min<std::uint64_t>(room, 0xFFFFFFFEu);
  chunk_records_.push_back(
      ChunkRecord{0, fourcc("WAVE"), static_cast<std::uint32_t>(data_size), riff_.position()});
  r.length = r.format.nAvgBytesPerSec != 0
                 ? static_cast<double>(data_size) / r.format.nAvgBytesPerSec
                 : 0.0;
  flags_ |= AVC_HEADERS | AVC_INDEXED | AVC_WAVE;
  stream_table_->audio.push_back(r);
  return 1;
}

}  // namespace avikit
