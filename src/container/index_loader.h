#pragma once
// The body scan for "movi", the AVI 1.0 "idx1" index and the rebuild of a missing or unusable
// one (AviContainer::load_index), plus the stream figures every index path derives.

#include <array>
#include <cstdint>
#include <span>

#include "container/chunk_index.h"
#include "container/header_parser.h"
#include "container/stream_table.h"

namespace avikit {

namespace container::detail {

inline constexpr std::uint32_t kIdx1EntrySize = 16;
inline constexpr std::uint32_t kIdx1KeyFrame = 0x10;         // AVIIF_KEYFRAME
inline constexpr std::uint32_t kIndexBatchBytes = 1u << 20;  // index bytes read per call
// Entries of the head of an idx1 whose chunk headers are looked at to tell relative offsets from
// absolute ones, and how many of them at most.
inline constexpr std::uint32_t kBaseProbeEntries = 64;
inline constexpr std::uint32_t kBaseProbeSamples = 8;

// Where one load puts the entries of each stream, by stream number. The players fill the two
// selected streams; the probe fills every stream in one pass over the index.
struct IndexPlan {
  std::array<ChunkIndex*, kMaxStreamLists> target{};        // null: not loaded
  std::array<AudioStreamRecord*, kMaxStreamLists> audio{};  // for the short-chunk flag
  std::array<bool, kMaxStreamLists> odml{};      // filled by an OpenDML index; idx1 leaves it be
  std::uint32_t declared = 0;                    // stream lists in the header
  std::uint32_t video_stream = kMaxStreamLists;  // selected video stream (peeked for key frames)

  // The index that takes the entries of stream s from idx1 or a rebuild, or nullptr.
  ChunkIndex* open_target(std::int32_t s) const {
    if (s < 0 || static_cast<std::uint32_t>(s) >= kMaxStreamLists) return nullptr;
    return odml[static_cast<std::size_t>(s)] ? nullptr : target[static_cast<std::size_t>(s)];
  }
  bool any_open() const {
    for (std::size_t s = 0; s < kMaxStreamLists; ++s) {
      if (target[s] != nullptr && !odml[s]) return true;
    }
    return false;
  }
};

// The stream an "idx1" ckid belongs to (chunk_stream_number of fourccs.h over the stream lists
// the header declares); -1 for none.
std::int64_t idx1_stream_number(std::uint32_t ckid, std::uint32_t declared);

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

// Palette changes ("##pc") change the colours of the frames after them; they are no frame.
constexpr bool is_palette_change(std::uint32_t ckid) {
  return (ckid >> 16) == (std::uint32_t{'p'} | std::uint32_t{'c'} << 8);
}

// Key frames told from the data of a chunk, for streams whose index does not say. MPEG-4 part 2
// (ISO/IEC 14496-2): the first VOP is intra coded (vop_coding_type 0). H.264 (ISO/IEC 14496-10,
// Annex B byte stream): an IDR slice (nal_unit_type 5) comes before any other slice.
bool mpeg4_chunk_is_key(std::span<const std::uint8_t> data);
bool h264_chunk_is_key(std::span<const std::uint8_t> data);

}  // namespace container::detail

}  // namespace avikit
