#include "container/index_loader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "container/avi_container.h"
#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace container::detail {

std::int64_t idx1_stream_number(std::uint32_t ckid, std::uint32_t total_streams) {
  if (total_streams < 6) return std::int64_t{fourcc_byte(ckid, 1)} - '0';
  return hex_stream_number(ckid);
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
      const std::uint32_t size = h.size >= 4 ? h.size - 4 : 0;
      const ChunkRecord* known = find_chunk_record(kMovi, -1);
      // A reload after a selection finds the same list again; one record of it is enough.
      if (known == nullptr || known->position != tracked_position_) {
        chunk_records_.push_back(ChunkRecord{-1, kMovi, size, tracked_position_});
      }
      const int r = (flags_ & AVC_HAS_INDX) != 0 ? load_odml_index() : load_idx1();
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

int AviContainer::find_idx1(ChunkHeader& h) {
  for (;;) {
    const std::uint32_t id = read_chunk_header(h, true);
    if (id == 0) return 0;
    if (id == kIdx1) return 1;
    skip_chunk_data(h);
  }
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
    }
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

int AviContainer::load_idx1() {
  const ChunkRecord* movi = find_chunk_record(kMovi, -1);
  if (movi == nullptr || !stream_table_) return 0;
  const std::uint64_t movi_position = movi->position;
  const std::uint32_t movi_size = movi->size;
  prepare_indexes(true, true);
  seek_tracked(movi_size, SeekOrigin::kCurrent);
  ChunkHeader h;
  if (find_idx1(h) == 0) return 0;

  // As many entries as the header announces and the rest of the file can hold.
  const std::uint64_t file_size = stream_table_->file_size;
  const std::uint64_t start = tracked_position_;
  const std::uint64_t left = start < file_size ? file_size - start : 0;
  const std::uint64_t count = entries_that_fit(h.size / kIdx1EntrySize, left, kIdx1EntrySize);
  Idx1Walk walk;
  walk.movi_position = movi_position;
  const VideoStreamRecord* video = selected_video_record();
  const AudioStreamRecord* audio = selected_audio_record();
  // A ckid can decode to -1 ("0/dc"), so "no stream" must be a value no ckid gives.
  walk.video_stream = video != nullptr ? std::int64_t{video->stream} : INT64_MIN;
  walk.audio_stream = audio != nullptr ? std::int64_t{audio->stream} : INT64_MIN;
  walk.total_streams =
      static_cast<std::uint32_t>(stream_table_->video.size() + stream_table_->audio.size());
  // Reserving costs address space, not memory, until the entries are written.
  if (video != nullptr) reserve_more(*video_index_, count);
  if (audio != nullptr) reserve_more(*audio_index_, count);
  read_entries(start, count, kIdx1EntrySize, [&](const std::uint8_t* data, std::uint32_t n) {
    walk_idx1(data, n, walk);
    return true;
  });
  finish_index_figures(false, true, true);
  return 1;
}

// Appends the entries of the two selected streams, in file order.
void AviContainer::walk_idx1(const std::uint8_t* data, std::uint32_t count, Idx1Walk& walk) {
  AudioStreamRecord* audio = selected_audio_record();
  ChunkIndex* video_target = video_index_.get();
  ChunkIndex* audio_target = audio_index_.get();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = data + std::size_t{i} * kIdx1EntrySize;
    const std::int64_t s = idx1_stream_number(le32(e), walk.total_streams);
    ChunkIndex* target = nullptr;
    if (s == walk.video_stream) {
      target = video_target;
    } else if (s == walk.audio_stream) {
      target = audio_target;
      const std::uint32_t length = le32(e + 12);
      if (audio->short_chunk == 0 && length != 0 && length < audio->format.nBlockAlign) {
        audio->short_chunk = 1;
      }
    } else {
      continue;
    }
    const std::uint32_t offset = le32(e + 8);
    const std::uint32_t length = le32(e + 12);
    if (!walk.base_known) {
      // Offsets are relative to the "movi" FOURCC unless the size word found there disagrees;
      // then they are absolute file offsets of the chunk headers.
      walk.base_known = true;
      walk.base = walk.movi_position + 4;
      std::uint8_t size_word[4] = {};
      if (read_at(walk.base + offset - 4, size_word, 4) != 4 || le32(size_word) != length) {
        walk.base = 8;
      }
    }
    const std::uint64_t position = offset + walk.base;
    target->append(position, size_in_file(position, length, stream_table_->file_size),
                   le32(e + 4) & kIdx1KeyFrame);
  }
}

void AviContainer::finish_index_figures(bool correct_frame_count, bool video_indexed,
                                        bool audio_indexed) {
  VideoStreamRecord* video = selected_video_record();
  if (video != nullptr && video_index_ && video_indexed) {
    const ChunkIndex& index = *video_index_;
    if (correct_frame_count && index.size() != video->frame_count) {
      video->frame_count = static_cast<std::uint32_t>(index.size());
    }
    video->bit_rate = video_kbit_rate(index.total_bytes, video->frame_count, video->frame_rate);
    video->largest_chunk = index.largest_chunk;
    video->key_frame_distance = index.key_frame_distance();
  }
  AudioStreamRecord* audio = selected_audio_record();
  // DV type-1 sound has no chunks of its own and keeps the length of its stream header.
  if (audio != nullptr && audio_index_ && audio_indexed && (flags_ & AVC_DV_TYPE1) == 0) {
    const std::uint32_t rate = audio->format.nAvgBytesPerSec;
    audio->length = rate != 0 ? static_cast<double>(audio_index_->total_bytes) / rate : 0.0;
  }
  if ((flags_ & AVC_KEEP_HANDLE) == 0) {
    video_index_.reset();
    audio_index_.reset();
  }
}
