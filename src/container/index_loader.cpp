#include "container/index_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace avikit {

namespace container::detail {

std::int64_t idx1_stream_number(std::uint32_t ckid, std::uint32_t declared) {
  return chunk_stream_number(ckid, declared);
}

float video_kbit_rate(std::uint64_t total_bytes, std::uint32_t frame_count, float frame_rate) {
  const double seconds = static_cast<double>(frame_count) / static_cast<double>(frame_rate);
  const double denominator = seconds * 1000.0;
  if (!(denominator > 0.0) || !std::isfinite(denominator)) return 0.0f;
  return static_cast<float>(static_cast<double>(total_bytes * 8u) / denominator);
}

std::uint64_t entries_that_fit(std::uint64_t count, std::uint64_t bytes, std::uint32_t entry_size) {
  if (entry_size == 0) return 0;
  const std::uint64_t room = bytes / entry_size;
  return count < room ? count : room;
}

std::uint32_t size_in_file(std::uint64_t position, std::uint32_t size, std::uint64_t file_size) {
  if (position >= file_size) return 0;
  const std::uint64_t left = file_size - position;
  return size < left ? size : static_cast<std::uint32_t>(left);
}

void reserve_more(ChunkIndex& index, std::uint64_t more) {
  if (index.figures_only) return;
  const std::uint64_t needed = index.entries.size() + more;
  if (needed <= index.entries.capacity()) return;
  const std::uint64_t doubled = 2 * static_cast<std::uint64_t>(index.entries.capacity());
  index.entries.reserve(static_cast<std::size_t>(needed > doubled ? needed : doubled));
}

}  // namespace container::detail

namespace container {

using namespace detail;

std::uint32_t IndexLoader::read_chunk_header(ChunkHeader& header) {
  return riff_.read_chunk_header(header, true, table_.file_size);
}

bool IndexLoader::known_stream(std::int32_t stream) const {
  if (stream < 0) return false;
  const auto wanted = static_cast<std::uint32_t>(stream);
  for (const VideoStreamRecord& v : table_.video) {
    if (v.stream == wanted) return true;
  }
  for (const AudioStreamRecord& a : table_.audio) {
    if (a.stream == wanted) return true;
  }
  return false;
}

std::optional<LoadedIndex> IndexLoader::load() {
  const ChunkRecord* send = find_chunk_record(records_, kSend, -1);
  if (send != nullptr && send->position > 0) {
    riff_.seek(static_cast<std::int64_t>(send->position), SeekOrigin::kBegin);
  }
  // Every pass reads a header, so the scan moves forward and ends with the file.
  ChunkHeader h;
  for (;;) {
    if (read_chunk_header(h) == 0) return std::nullopt;
    if (h.id == kList && h.list_type == kMovi) break;
    // Other lists are entered: their sub-chunks come next. "INFO" is stepped over.
    if (h.id != kList || h.list_type == kInfo) riff_.skip_chunk_data(h);
  }
  // A size of 0xFFFFFFFF (a recording never closed) means "to the end of the file".
  const std::uint64_t at = riff_.position();
  const std::uint64_t left = at < table_.file_size ? table_.file_size - at : 0;
  const std::uint32_t size =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(h.size >= 4 ? h.size - 4 : 0, left));
  const ChunkRecord found{-1, kMovi, size, at};
  // A reload after a selection finds the same list again; the first record of it stands.
  const ChunkRecord* known = find_chunk_record(records_, kMovi, -1);
  LoadedIndex loaded = load_streams(known != nullptr ? *known : found);
  if (known == nullptr || known->position != at) loaded.movi = found;
  return loaded;
}

// Each index is read once: the OpenDML indexes of the streams that have one, then idx1 for the
// others, and when idx1 is missing or points at no chunk, the "movi" lists themselves.
LoadedIndex IndexLoader::load_streams(const ChunkRecord& movi) {
  LoadedIndex loaded;
  IndexPlan plan;
  plan.declared = table_.stream_lists;
  auto map = [&plan](std::uint32_t stream, ChunkIndex* index) {
    if (stream < kMaxStreamLists && plan.target[stream] == nullptr) plan.target[stream] = index;
  };
  // The probe keeps figures only, and keeps them for every stream: its selections then cost
  // nothing, however many streams the file has.
  const bool all = options_.figures_only;
  std::vector<ChunkIndex> figures;
  VideoStreamRecord* video = streams_.selected_video_record();
  AudioStreamRecord* audio = streams_.selected_audio_record();
  if (options_.leave_out_video) video = nullptr;
  if (all) {
    figures.resize(streams_.video.size() + streams_.audio.size());
    for (ChunkIndex& f : figures) f.figures_only = true;
    for (std::size_t i = 0; i < streams_.video.size(); ++i) {
      map(streams_.video[i].stream, &figures[i]);
    }
    for (std::size_t i = 0; i < streams_.audio.size(); ++i) {
      const std::uint32_t s = streams_.audio[i].stream;
      map(s, &figures[streams_.video.size() + i]);
      if (s < kMaxStreamLists && plan.audio[s] == nullptr) plan.audio[s] = &streams_.audio[i];
    }
  } else {
    if (options_.video_held || video != nullptr) loaded.video = std::make_unique<ChunkIndex>();
    if (options_.audio_held || audio != nullptr) {
      loaded.audio = std::make_unique<ChunkIndex>();
      loaded.audio->lists_keys = false;
    }
    if (video != nullptr) map(video->stream, loaded.video.get());
    if (audio != nullptr) {
      map(audio->stream, loaded.audio.get());
      if (audio->stream < kMaxStreamLists) plan.audio[audio->stream] = audio;
    }
  }
  if (video != nullptr) plan.video_stream = video->stream;

  if (options_.has_indx) load_odml_streams(plan);
  if (plan.any_open() && load_idx1(plan, movi) == 0) {
    rebuild_index(plan, movi);
    loaded.rebuilt = true;
  }

  if (all) {
    for (std::size_t i = 0; i < streams_.video.size(); ++i) {
      VideoStreamRecord& v = streams_.video[i];
      apply_video_figures(v, figures[i], plan.from_odml(v.stream));
    }
    for (std::size_t i = 0; i < streams_.audio.size(); ++i) {
      apply_audio_figures(streams_.audio[i], figures[streams_.video.size() + i]);
    }
    return loaded;
  }
  if (video != nullptr) apply_video_figures(*video, *loaded.video, plan.from_odml(video->stream));
  if (audio != nullptr) apply_audio_figures(*audio, *loaded.audio);
  return loaded;
}

void IndexLoader::apply_video_figures(VideoStreamRecord& video, const ChunkIndex& index,
                                      bool from_odml) {
  settle_dv_system(video, index);
  // OpenDML headers often count the first segment only; any header may carry a stale count.
  // The index holds what the file has: it wins when it holds more, and an OpenDML one always.
  const std::uint64_t n = std::min<std::uint64_t>(index.size(), UINT32_MAX - 1);
  if (n > video.frame_count || (from_odml && n != video.frame_count)) {
    video.frame_count = static_cast<std::uint32_t>(n);
  }
  video.bit_rate = video_kbit_rate(index.total_bytes, video.frame_count, video.frame_rate);
  video.largest_chunk = index.largest_chunk;
  video.indexed = index.size();
  video.indexed_keys = index.key_count();
  video.key_frame_distance = index.key_frame_distance();
}

void IndexLoader::apply_audio_figures(AudioStreamRecord& audio, const ChunkIndex& index) const {
  // DV type-1 sound has no chunks of its own and keeps the length of its stream header.
  if (options_.dv_type1) return;
  const std::uint32_t rate = audio.format.nAvgBytesPerSec;
  audio.length = rate != 0 ? static_cast<double>(index.total_bytes) / rate : 0.0;
  audio.data_bytes = index.total_bytes;
  audio.chunks = index.size();
  if (index.figures_only) audio.head = index.head;
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
void IndexLoader::settle_dv_system(VideoStreamRecord& video, const ChunkIndex& index) {
  const bool type1 = options_.dv_type1;
  if (index.size() == 0 || (!type1 && video.handler != kDvsdLower && video.handler != kDvsdUpper)) {
    return;
  }
  std::uint8_t head[kDvFrameHead] = {};
  const std::uint32_t want = std::min<std::uint32_t>(index.first.size, kDvFrameHead);
  const std::uint32_t got = riff_.read_at(index.first.position, head, want);
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
  for (AudioStreamRecord& a : streams_.audio) {
    if (a.stream == video.stream + 1) sound = &a;
  }
  const ChunkRecord* strf =
      find_chunk_record(records_, kStrf, static_cast<std::int32_t>(video.stream));
  if (sound == nullptr || strf == nullptr) return;
  std::uint8_t dvinfo[kDvInfoSize] = {};
  riff_.read_at(strf->position, dvinfo, std::min(strf->size, kDvInfoSize));
  if (std::all_of(std::begin(dvinfo), std::end(dvinfo), [](std::uint8_t b) { return b == 0; })) {
    if (got < kDvFrameHead || head[kAauxSourcePack] != kAauxSourceHeader) return;
    std::copy_n(head + kAauxSourcePack + 1, 4, dvinfo);
    std::copy_n(head + kVauxSourceBytes, 4, dvinfo + 16);
  }
  dvinfo[18] = static_cast<std::uint8_t>((dvinfo[18] & ~0x20) | (is625 ? 0x20 : 0));
  use_dv_sound_layout(*sound, streams_.dv_sound, dvinfo);
}

int IndexLoader::find_idx1(ChunkHeader& h) {
  for (;;) {
    const std::uint32_t id = read_chunk_header(h);
    if (id == 0) return 0;
    if (id == kIdx1) return 1;
    riff_.skip_chunk_data(h);
  }
}

std::uint64_t IndexLoader::read_entries(
    std::uint64_t position, std::uint64_t count, std::uint32_t entry_size,
    const std::function<bool(const std::uint8_t*, std::uint32_t)>& walk) {
  // Batches of about 1 MB: the index is read in few calls, and a large one does not cost a
  // buffer of its own size (fresh pages are what a one-shot probe pays for most).
  const std::uint64_t per_batch = std::max<std::uint64_t>(kIndexBatchBytes / entry_size, 1);
  const std::uint64_t first = count < per_batch ? count : per_batch;
  auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(first * entry_size + 1);
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t n = count - done < per_batch ? count - done : per_batch;
    const auto bytes = static_cast<std::uint32_t>(n * entry_size);
    const std::uint32_t got = riff_.read_at(position + done * entry_size, buffer.get(), bytes);
    const std::uint32_t entries = got / entry_size;
    done += entries;
    if (entries == 0 || !walk(buffer.get(), entries) || got < bytes) break;
  }
  return done * entry_size;
}

// Where idx1 offsets count from: the "movi" FOURCC (most writers) or the start of the file. The
// chunk headers that a few entries point at decide, so one entry whose size disagrees with its
// chunk does not turn the whole index into garbage. 0 when neither reading finds its chunks:
// the index is unusable.
std::uint64_t IndexLoader::idx1_base(std::uint64_t start, std::uint64_t count,
                                     std::uint64_t movi_position, std::uint32_t declared) {
  std::uint8_t raw[kBaseProbeEntries * kIdx1EntrySize];
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kBaseProbeEntries));
  const std::uint32_t got = riff_.read_at(start, raw, n * kIdx1EntrySize) / kIdx1EntrySize;
  const std::uint64_t bases[2] = {movi_position + 4, 8};
  std::uint32_t matches[2] = {0, 0};
  std::uint32_t samples = 0;
  for (std::uint32_t i = 0; i < got && samples < kBaseProbeSamples; ++i) {
    const std::uint8_t* e = raw + std::size_t{i} * kIdx1EntrySize;
    const std::uint32_t ckid = le32(e);
    const std::int64_t s = idx1_stream_number(ckid, declared);
    if (s < 0 || s >= std::int64_t{declared}) continue;
    ++samples;
    for (int k = 0; k < 2; ++k) {
      const std::uint64_t at = bases[k] + le32(e + 8);
      std::uint8_t header[8];
      if (at < 8 || riff_.read_at(at - 8, header, 8) != 8) continue;
      // The stream digits and the size must agree; writers differ on the two-letter type.
      if ((le32(header) & 0xFFFF) == (ckid & 0xFFFF) && le32(header + 4) == le32(e + 12)) {
        ++matches[k];
      }
    }
  }
  if (matches[0] == 0 && matches[1] == 0) return 0;
  return matches[1] > matches[0] ? bases[1] : bases[0];
}

// 1 when idx1 gave the entries of the plan's open streams; 0 when there is no usable idx1.
int IndexLoader::load_idx1(IndexPlan& plan, const ChunkRecord& movi) {
  riff_.seek(static_cast<std::int64_t>(movi.position + movi.size), SeekOrigin::kBegin);
  ChunkHeader h;
  if (find_idx1(h) == 0) return 0;
  // As many entries as the chunk announces and the rest of the file can hold.
  const std::uint64_t file_size = table_.file_size;
  const std::uint64_t start = riff_.position();
  const std::uint64_t left = start < file_size ? file_size - start : 0;
  const std::uint64_t count = entries_that_fit(h.size / kIdx1EntrySize, left, kIdx1EntrySize);
  const std::uint64_t base = idx1_base(start, count, movi.position, plan.declared);
  if (base == 0) return 0;
  // Reserving costs address space, not memory, until the entries are written.
  for (std::size_t s = 0; s < kMaxStreamLists; ++s) {
    if (ChunkIndex* t = plan.open_target(static_cast<std::int32_t>(s))) reserve_more(*t, count);
  }
  read_entries(start, count, kIdx1EntrySize, [&](const std::uint8_t* data, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* e = data + std::size_t{i} * kIdx1EntrySize;
      const std::uint32_t ckid = le32(e);
      const std::int64_t s = idx1_stream_number(ckid, plan.declared);
      ChunkIndex* target = plan.open_target(static_cast<std::int32_t>(s));
      if (target == nullptr) continue;
      const std::uint32_t length = le32(e + 12);
      const std::uint64_t position = le32(e + 8) + base;
      if (is_palette_change(ckid)) {
        target->append_palette_change(position, size_in_file(position, length, file_size));
        continue;
      }
      note_short_chunk(plan, s, length);
      target->append(position, size_in_file(position, length, file_size),
                     le32(e + 4) & kIdx1KeyFrame);
    }
    return true;
  });
  return 1;
}

void IndexLoader::note_short_chunk(IndexPlan& plan, std::int64_t stream, std::uint32_t length) {
  AudioStreamRecord* audio = plan.audio[static_cast<std::size_t>(stream)];
  if (audio != nullptr && audio->short_chunk == 0 && length != 0 &&
      length < audio->format.nBlockAlign) {
    audio->short_chunk = 1;
  }
}

}  // namespace container

}  // namespace avikit
