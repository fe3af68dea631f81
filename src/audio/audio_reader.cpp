// Negative positions (a negative shift asks for sound from before the stream's start) read as
// nothing on every kind of file, WAVE included, so no bytes from in front of the "data" chunk
// are ever played; the player turns that stretch into silence and starts the stream at 0 when
// its clock gets there (audio/audio_player_impl.cpp).

#include "audio/audio_reader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "audio/dv_audio.h"
#include "audio/stream_format.h"
#include "hostlib/audio_decoder.h"
#include "video/shared_avi_file.h"

namespace avikit {

static_assert(std::endian::native == std::endian::little,
              "DV samples are handed out as little-endian 16-bit PCM by copying them");

namespace {

constexpr std::uint32_t kWaveRecord = platform::fourcc("WAVE");
constexpr std::uint32_t kStereoFrameBytes = 4;  // DV sound: two 16-bit channels

// The bytes of the selected stream and the chunks they come in.
struct StreamExtent {
  std::uint64_t bytes = 0;
  std::uint64_t chunks = 0;
};

// The "data" chunk of a WAVE file; its declared size is trusted only as far as the file goes.
StreamExtent wave_extent(AviContainer& f) {
  const ChunkRecord* data = f.find_chunk_record(kWaveRecord, 0);
  if (data == nullptr) return {};
  const std::uint64_t size = f.file_size();
  const std::uint64_t room = size > data->position ? size - data->position : 0;
  return {std::min<std::uint64_t>(data->size, room), 1};
}

StreamExtent stream_extent(AviContainer& f) {
  if ((f.flags() & AVC_WAVE) != 0) return wave_extent(f);
  if ((f.flags() & AVC_DV_TYPE1) != 0) return {};
  if (f.load_index() == 0 || f.audio_index() == nullptr) return {};
  const ChunkIndex& index = *f.audio_index();
  return {index.total_bytes, index.size()};
}

std::uint32_t read_wave_audio(AviContainer& file, std::uint64_t p, std::uint8_t* buffer,
                              std::uint32_t count) {
  const ChunkRecord* data = file.find_chunk_record(kWaveRecord, 0);
  if (data == nullptr) return 0;
  // Bounded by the "data" chunk: what follows it (a "LIST" of tags, say) is not sound and would
  // click at the end of the last block.
  const std::uint64_t bytes = wave_extent(file).bytes;
  if (p >= bytes) return 0;
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, bytes - p));
  return file.read_at(data->position + p, buffer, n);
}

// Where the reader stands in the audio index: an entry and the stream bytes before it.
struct IndexCursor {
  std::uint64_t entry = 0;
  std::uint64_t offset = 0;
};

// Moves the cursor to the entry holding byte p. Reading on from the last call is the common
// case, so the search steps from where the last one stopped: sequential reading visits each
// entry once over the whole stream, instead of walking from the first entry on every call (a
// cost quadratic in the stream's length). A jump back nearer to the start than to the cursor
// starts again from the first entry. False when p lies beyond the last entry.
bool find_audio_entry(const ChunkIndex& index, std::uint64_t p, IndexCursor& c) {
  const std::vector<IndexEntry>& e = index.entries;
  if (c.entry > e.size() || c.offset > index.total_bytes || p < c.offset / 2) c = {};
  while (c.offset > p && c.entry > 0) {
    const std::uint32_t size = e[c.entry - 1].size;
    if (size > c.offset) break;  // not the index the cursor was made on
    --c.entry;
    c.offset -= size;
  }
  if (c.offset > p) c = {};
  while (c.entry < e.size() && e[c.entry].size <= p - c.offset) {
    c.offset += e[c.entry].size;
    ++c.entry;
  }
  return c.entry < e.size();
}

// The bytes a walk from the first entry would deliver: the rest of the entry holding p, then
// whole entries, each read at its own position.
std::uint32_t read_indexed_audio(AviContainer& file, std::uint64_t p, IndexCursor& cursor,
                                 std::uint8_t* buffer, std::uint32_t count) {
  if (file.load_index() == 0 || file.audio_index() == nullptr) return 0;
  const ChunkIndex& index = *file.audio_index();
  if (p >= index.total_bytes || !find_audio_entry(index, p, cursor)) return 0;
  const std::vector<IndexEntry>& e = index.entries;
  std::uint64_t skip = p - cursor.offset;  // into the first entry
  std::uint32_t delivered = 0;
  // Compat: a short read does not end the walk; the next chunk's bytes follow at once.
  for (std::uint64_t i = cursor.entry; i < e.size() && delivered < count; ++i) {
    const std::uint64_t left = e[i].size - skip;
    const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, count - delivered));
    if (want != 0) delivered += file.read_at(e[i].position + skip, buffer + delivered, want);
    skip = 0;
  }
  return delivered;
}

// DV type-1 sound lives inside the video frames: it is decoded ten frames (one group) at a time
// into the file's cache (audio/dv_audio.h) and copied out from there.
std::uint32_t read_dv_audio(SharedAviFile& shared, std::uint64_t p, std::uint8_t* buffer,
                            std::uint32_t count) {
  AviContainer& file = shared.container();
  const platform::WAVEFORMATEX* format = file.audio_format();
  const double stereo_frames =
      file.audio_length() * static_cast<double>(format->nAvgBytesPerSec) * 0.25;
  const std::int64_t frames = audio::truncate_position(stereo_frames);
  const std::int32_t per_group = file.dv_samples_per_10_frames();
  if (frames <= 0 || per_group <= 0 ||
      static_cast<std::uint32_t>(per_group) > audio::DvAudioSlot::kEvenFrames) {
    return 0;
  }
  const auto total = static_cast<std::uint64_t>(frames) * kStereoFrameBytes;
  if (p >= total) return 0;
  const auto n = static_cast<std::uint64_t>(per_group);
  const auto end_frame = static_cast<std::uint64_t>(frames);
  const std::uint64_t last_group = total / (kStereoFrameBytes * n);
  std::uint64_t s = p / kStereoFrameBytes;
  std::uint32_t delivered = 0;
  audio::DvAudioCache& cache = audio::DvAudioCache::of(shared);
  while (delivered < count) {
    const std::uint64_t g = s / n;
    const std::uint64_t o = s % n;
    if (g > last_group || g > UINT32_MAX) break;
    // Never past the stream's length: the tail of the last group is not sound of this stream.
    const std::uint64_t k = std::min({(count - delivered) / std::uint64_t{kStereoFrameBytes}, n - o,
                                      end_frame - std::min(end_frame, s)});
    if (k == 0) break;
    const audio::DvAudioSlot* slot = cache.load(file, static_cast<std::uint32_t>(g));
    if (slot == nullptr) break;
    std::memcpy(buffer + delivered, slot->even.data() + 2 * o, k * kStereoFrameBytes);
    s += k;
    delivered += static_cast<std::uint32_t>(k * kStereoFrameBytes);
  }
  return delivered;
}

// Enough of a compressed stream's start to measure its frames: some dozens of MPEG audio or
// AC-3 frames at any bit rate.
constexpr std::uint32_t kMeasureBytes = 64 * 1024;

}  // namespace

audio::StreamTiming audio::measured_timing(AviContainer& f) {
  const platform::WAVEFORMATEX* format = f.audio_format();
  if (format == nullptr) return {};
  // DV type-1 sound has no bytes of its own: its length is the video's.
  if ((f.flags() & AVC_DV_TYPE1) != 0) {
    return {static_cast<double>(format->nAvgBytesPerSec), f.audio_length()};
  }
  // A container that keeps figures only (the probe's) measures from the figures its index left
  // in the stream's record and the first chunks kept there.
  const bool figures = (f.flags() & AVC_KEEP_HANDLE) == 0;
  const AudioStreamRecord* record = f.audio_record();
  if (figures && record == nullptr) return {};
  const StreamExtent extent = !figures || (f.flags() & AVC_WAVE) != 0
                                  ? stream_extent(f)
                                  : StreamExtent{record->data_bytes, record->chunks};
  audio::FrameSample head;
  if (audio::is_decoded_tag(format->wFormatTag)) {
    std::vector<std::uint8_t> bytes(std::min<std::uint64_t>(kMeasureBytes, extent.bytes));
    IndexCursor cursor;
    const auto want = static_cast<std::uint32_t>(bytes.size());
    std::uint32_t got = 0;
    if (!figures) {
      got = (f.flags() & AVC_WAVE) != 0 ? read_wave_audio(f, 0, bytes.data(), want)
                                        : read_indexed_audio(f, 0, cursor, bytes.data(), want);
    } else if ((f.flags() & AVC_WAVE) != 0) {
      const ChunkRecord* data = f.find_chunk_record(kWaveRecord, 0);
      if (data != nullptr) got = f.read_entries({{data->position, want, 1}}, bytes.data(), want);
    } else {
      got = f.read_entries(record->head, bytes.data(), want);
    }
    const int ac3 = format->wFormatTag == platform::WAVE_FORMAT_DOLBY_AC3 ? 1 : 0;
    const AudioDecoder::FrameSpan span = AudioDecoder::measure_frames(ac3, bytes.data(), got);
    head = {span.frames, span.bytes, span.samples, span.sample_rate};
  }
  return audio::stream_timing(*format, f.audio_length(), extent.bytes, extent.chunks, head);
}

double AudioMediaReader::audio_byte_rate() {
  if (file_ == nullptr) return 0.0;
  if (audio_rate_ < 0.0) {
    const audio::StreamTiming t = audio::measured_timing(file_->container());
    audio_rate_ = t.bytes_per_second;
    audio_seconds_ = t.length;
  }
  return audio_rate_;
}

void AudioMediaReader::reset_position() {
  audio_position_ = 0;
  audio_cursor_entry_ = 0;
  audio_cursor_offset_ = 0;
  audio_rate_ = -1.0;
}

bool AudioMediaReader::open(const platform::FileSource& source, int mode) {
  reset_position();
  return MediaReader::open(source, mode);
}

int AudioMediaReader::select_audio(int stream) {
  if (file_ != nullptr) file_ = select_audio_on_shared(file_, stream, mode_);
  reset_position();
  return 1;
}

const platform::WAVEFORMATEX* AudioMediaReader::audio_format() {
  return file_ != nullptr ? file_->container().audio_format() : nullptr;
}

double AudioMediaReader::audio_length() {
  audio_byte_rate();
  return file_ != nullptr ? audio_seconds_ : 0.0;
}

int AudioMediaReader::audio_stream_id() {
  if (file_ == nullptr || file_->container().audio_format() == nullptr) return -1;
  return file_->container().selected_audio_stream_number();
}

double AudioMediaReader::seek_audio(double seconds) {
  if (file_ == nullptr) return 0.0;
  const platform::WAVEFORMATEX* format = file_->container().audio_format();
  if (format == nullptr) return 0.0;
  const double rate = audio_byte_rate();
  double t = seconds;
  if (!(t <= audio_seconds_)) t = audio_seconds_;  // past the end, or not a number
  std::int64_t p = audio::truncate_position(rate * t);
  // Start on a whole sample frame or block. Below 8 bits a sample still takes a byte, so the
  // frame never has 0 bytes; truncation toward zero keeps negative positions aligned too.
  const auto align = static_cast<std::int64_t>(audio::seek_alignment(*format));
  if (align > 0) p = p / align * align;
  audio_position_ = p;
  return t;
}

int AudioMediaReader::audio_at_end() {
  if (file_ == nullptr) return 1;
  const double end = audio_byte_rate() * audio_seconds_ - 0.001;
  return static_cast<double>(audio_position_) >= end ? 1 : 0;
}

std::uint32_t AudioMediaReader::read_audio(std::uint8_t* buffer, std::uint32_t count) {
  if (file_ == nullptr || buffer == nullptr || count == 0) return 0;
  if (file_->container().audio_format() == nullptr || audio_position_ < 0) return 0;
  const auto p = static_cast<std::uint64_t>(audio_position_);
  std::uint32_t got = 0;
  if ((file_->container().flags() & AVC_WAVE) != 0) {
    got = read_wave_audio(file_->container(), p, buffer, count);
  } else if ((file_->container().flags() & AVC_DV_TYPE1) != 0) {
    got = read_dv_audio(*file_, p, buffer, count);
  } else {
    IndexCursor cursor{audio_cursor_entry_, audio_cursor_offset_};
    got = read_indexed_audio(file_->container(), p, cursor, buffer, count);
    audio_cursor_entry_ = cursor.entry;
    audio_cursor_offset_ = cursor.offset;
  }
  audio_position_ += got;
  return got;
}

}  // namespace avikit
