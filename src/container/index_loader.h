#pragma once
// The body scan for "movi" and the AVI 1.0 "idx1" index (AviContainer::load_index, load_idx1),
// plus the stream figures both index paths derive.

#include <cstdint>

#include "container/chunk_index.h"

namespace container::detail {

inline constexpr std::uint32_t kIdx1EntrySize = 16;
inline constexpr std::uint32_t kIdx1KeyFrame = 0x10;         // AVIIF_KEYFRAME
inline constexpr std::uint32_t kIndexBatchBytes = 1u << 20;  // index bytes read per call

// What the idx1 walk carries from one batch of entries to the next.
struct Idx1Walk {
  std::uint64_t movi_position = 0;
  std::int64_t video_stream = 0;
  std::int64_t audio_stream = 0;
  std::uint32_t total_streams = 0;
  bool base_known = false;
  std::uint64_t base = 0;
};

// The stream an "idx1" ckid belongs to: with fewer than 6 streams in all the second character
// is the digit, otherwise the first two are read as hexadecimal. May be negative (no stream).
std::int64_t idx1_stream_number(std::uint32_t ckid, std::uint32_t total_streams);

// kbit/s from the bytes of a stream and its duration (frame count / frame rate); 0 when the
// duration is not a positive finite number.
float video_kbit_rate(std::uint64_t total_bytes, std::uint32_t frame_count, float frame_rate);

// Largest number of `entry_size` entries that `count` announces and that could fit in `bytes`.
std::uint64_t entries_that_fit(std::uint64_t count, std::uint64_t bytes, std::uint32_t entry_size);

// Grows the entry storage geometrically, so that many small standard indexes appended one after
// the other do not reallocate each time.
void reserve_more(ChunkIndex& index, std::uint64_t more);

// The bytes of an indexed chunk that the file really holds: its size, cut at the end of the
// file. An entry claiming 4 GB in a small (truncated or damaged) file would otherwise make the
// readers walk, and the audio length count, data that does not exist.
std::uint32_t size_in_file(std::uint64_t position, std::uint32_t size, std::uint64_t file_size);

}  // namespace container::detail
