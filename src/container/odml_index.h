#pragma once
// The OpenDML (AVI 2.0) indexes: the "indx" super index in each stream list and the ix##
// standard indexes it points at (IndexLoader::load_odml_streams).

#include <cstdint>

namespace avikit {

namespace container::detail {

inline constexpr std::uint32_t kOdmlHeaderSize = 24;
inline constexpr std::uint8_t kIndexOfIndexes = 0;  // AVI_INDEX_OF_INDEXES
inline constexpr std::uint8_t kIndexOfChunks = 1;   // AVI_INDEX_OF_CHUNKS
inline constexpr std::uint32_t kSuperEntrySize = 16;
inline constexpr std::uint32_t kNotKeyFrame = 0x80000000u;  // bit 31 of a standard entry's size

// The common 24-byte header of "indx" and ix## chunks.
struct OdmlIndexHeader {
  std::uint16_t longs_per_entry = 0;
  std::uint8_t sub_type = 0;
  std::uint8_t type = 0;
  std::uint32_t entries_in_use = 0;
  std::uint32_t chunk_id = 0;
  std::uint64_t base_offset = 0;  // index of chunks only
};
OdmlIndexHeader decode_odml_header(const std::uint8_t (&bytes)[kOdmlHeaderSize]);

}  // namespace container::detail

}  // namespace avikit
