#include "container/index_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "container/avi_container.h"
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

using namespace container;
using namespace container::detail;

int AviContainer::load_index() {
  if ((flags_ & AVC_OPENED) == 0 || parse_headers() == 0) return 0;
  if ((flags_ & AVC_INDEXED) != 0) return 1;
  // The probe loaded the figures of every stream at once: a selection needs no second pass.
  if ((flags_ & AVC_ALL_FIGURES) != 0) {
    flags_ |= AVC_INDEXED;
    return 1;
  }
  FileLease lease(*this);
  if (!lease.ok()) return 0;
  const ChunkRecord* send = find_chunk_record(kSend, -1);
  if (send != nullptr && send->position > 0) {
    seek_tracked(static_cast<std::int64_t>(send->position), SeekOrigin::kBegin);
  }
  // Every pass reads a header, so the scan moves forward and ends with the file.
  ChunkHeader h;
  for (;;) {
    if (read_chunk_header(h, true) == 0) return 0;
    if (h.id == kList && h.list_type == kMovi) {
      // A size of 0xFFFFFFFF (a recording never closed) means "to the end of the file".
      const std::uint64_t file_size = stream_table_->file_size;
      const std::uint64_t left = riff_.position() < file_size ? file_size - riff_.position() : 0;
      const std::uint32_t size =
          static_cast<std::uint32_t>(std::min<std::uint64_t>(h.size >= 4 ? h.size - 4 : 0, left));
      const ChunkRecord* known = find_chunk_record(kMovi, -1);
      // A reload after a selection finds the same list again; one record of it is enough.
      if (known == nullptr || known->position != riff_.position()) {
        chunk_records_.push_back(ChunkRecord{-1, kMovi, size, riff_.position()});
      }
      const int r = load_streams();
      if (r != 0) flags_ |= AVC_INDEXED;
      return r;
    }
    if (h.id == kList && h.list_type == kInfo) {
      skip_chunk_data(h);
    } else if (h.id != kList) {
      skip_chunk_data(h);  // Other lists are entered: their sub-chunks come next.
    }
  }
}

int AviContainer::index_video() {
  if ((flags_ & AVC_SOUND_ONLY) != 0) flags_ &= ~(AVC_SOUND_ONLY | AVC_INDEXED);
  return load_index();
}

void AviContainer::prepare_indexes(bool video, bool audio) {
  std::unique_ptr<ChunkIndex>* indexes[2] = {&video_index_, &audio_index_};
  const bool wanted[2] = {video, audio};
  for (int k = 0; k < 2; ++k) {
    std::unique_ptr<ChunkIndex>& index = *indexes[k];
    if (index) {
      index->clear();
    } else if (wanted[k]) {
      index = std::make_unique<ChunkIndex>();
      index->figures_only = (flags_ & AVC_KEEP_HANDLE) == 0;
      index->lists_keys = index == video_index_;
    }
  }
}

// Each index is read once: the OpenDML indexes of the streams that have one, then idx1 for the
// others, and when idx1 is missing or points at no chunk, the "movi" lists themselves.
int AviContainer::load_streams() {
  const ChunkRecord* found = find_chunk_record(kMovi, -1);
  if (found == nullptr || !stream_table_) return 0;
  const ChunkRecord movi = *found;
  StreamTable& table = *stream_table_;
  IndexPlan plan;
  plan.declared = table.stream_lists;
  auto map = [&plan](std::uint32_t stream, ChunkIndex* index) {
    if (stream < kMaxStreamLists && plan.target[stream] == nullptr) plan.target[stream] = index;
  };
  // The probe keeps figures only, and keeps them for every stream: its selections then cost
  // nothing, however many streams the file has.
  const bool all = (flags_ & AVC_KEEP_HANDLE) == 0;
  std::vector<ChunkIndex> figures;
  VideoStreamRecord* video = selected_video_record();
  AudioStreamRecord* audio = selected_audio_record();
  if ((flags_ & (AVC_SOUND_ONLY | AVC_DV_TYPE1)) == AVC_SOUND_ONLY) video = nullptr;
  if (all) {
    figures.resize(table.video.size() + table.audio.size());
    for (ChunkIndex& f : figures) f.figures_only = true;
    for (std::size_t i = 0; i < table.video.size(); ++i) map(table.video[i].stream, &figures[i]);
    for (std::size_t i = 0; i < table.audio.size(); ++i) {
      const std::uint32_t s = table.audio[i].stream;
      map(s, &figures[table.video.size() + i]);
      if (s < kMaxStreamLists && plan.audio[s] == nullptr) plan.audio[s] = &table.audio[i];
    }
  } else {
    prepare_indexes(video != nullptr, audio != nullptr);
    if (video != nullptr && video_index_) map(video->stream, video_index_.get());
    if (audio != nullptr && audio_index_) {
      map(audio->stream, audio_index_.get());
      if (audio->stream < kMaxStreamLists) plan.audio[audio->stream] = audio;
    }
  }
  if (video != nullptr) plan.video_stream = video->stream;

  if ((flags_ & AVC_HAS_INDX) != 0) load_odml_streams(plan);
  flags_ &= ~AVC_REBUILT;
  if (plan.any_open() && load_idx1(plan, movi) == 0) {
    rebuild_index(plan, movi);
    flags_ |= AVC_REBUILT;
  }

  if (all) {
    for (std::size_t i = 0; i < table.video.size(); ++i) {
      apply_video_figures(table.video[i], figures[i], plan.odml[table.video[i].stream]);
    }
    for (std::size_t i = 0; i < table.audio.size(); ++i) {
      apply_audio_figures(table.audio[i], figures[table.video.size() + i]);
    }
    flags_ |= AVC_ALL_FIGURES;
    return 1;
  }
  if (video != nullptr && video_index_) {
    apply_video_figures(*video, *video_index_, plan.odml[video->stream]);
  }
  if (audio != nullptr && audio_index_) apply_audio_figures(*audio, *audio_index_);
  return 1;
}

void AviContainer::apply_video_figures(VideoStreamRecord& video, const ChunkIndex& index,
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

void AviContainer::apply_audio_figures(AudioStreamRecord& audio, const ChunkIndex& index) {
  // DV type-1 sound has no chunks of its own and keeps the length of its stream header.
  if ((flags_ & AVC_DV_TYPE1) != 0) return;
  const std::uint32_t rate = audio.format.nAvgBytesPerSec;
  audio.length = rate != 0 ? static_cast<double>(index.total_bytes) / rate : 0.0;
  audio.data_bytes = index.total_bytes;
  audio.chunks = index.size();
  if (index.figures_only) audio.head = index.head;
}

int AviContainer::find_idx1(ChunkHeader& h) {
  for (;;) {
    const std::uint32_t id = read_chunk_header(h, true);
    if (id == 0) return 0;
    if (id == kIdx1) return 1;
    skip_chunk_data(h);
  }
}

std::uint64_t AviContainer::read_entries(
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
    const std::uint32_t got = read_at(position + done * entry_size, buffer.get(), bytes);
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
std::uint64_t AviContainer::idx1_base(std::uint64_t start, std::uint64_t count,
                                      std::uint64_t movi_position, std::uint32_t declared) {
  std::uint8_t raw[kBaseProbeEntries * kIdx1EntrySize];
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kBaseProbeEntries));
  const std::uint32_t got = read_at(start, raw, n * kIdx1EntrySize) / kIdx1EntrySize;
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
      if (at < 8 || read_at(at - 8, header, 8) != 8) continue;
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
int AviContainer::load_idx1(IndexPlan& plan, const ChunkRecord& movi) {
  seek_tracked(static_cast<std::int64_t>(movi.position + movi.size), SeekOrigin::kBegin);
  ChunkHeader h;
  if (find_idx1(h) == 0) return 0;
  // As many entries as the chunk announces and the rest of the file can hold.
  const std::uint64_t file_size = stream_table_->file_size;
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

void AviContainer::note_short_chunk(IndexPlan& plan, std::int64_t stream, std::uint32_t length) {
  AudioStreamRecord* audio = plan.audio[static_cast<std::size_t>(stream)];
  if (audio != nullptr && audio->short_chunk == 0 && length != 0 &&
      length < audio->format.nBlockAlign) {
    audio->short_chunk = 1;
  }
}

}  // namespace avikit
