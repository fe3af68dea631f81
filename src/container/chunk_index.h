#pragma once
// Where every chunk of one stream lies. Entry n of a video index is frame n.

#include <cstdint>
#include <vector>

struct IndexEntry {
  std::uint64_t position = 0;  // file offset of the chunk's data (after its 8-byte header)
  std::uint32_t size = 0;      // bytes of data
  std::uint32_t key = 0;       // non-zero for a key frame (0x10 from idx1, 1 from OpenDML)
};

struct ChunkIndex {
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> key_frames;  // positions in `entries` of key frames, ascending
  std::uint64_t total_bytes = 0;          // sum of the entry sizes
  std::uint32_t largest_chunk = 0;        // largest entry size

  void clear() {
    entries.clear();
    key_frames.clear();
    total_bytes = 0;
    largest_chunk = 0;
  }

  void append(std::uint64_t position, std::uint32_t size, std::uint32_t key) {
    if (size > largest_chunk) largest_chunk = size;
    total_bytes += size;
    if (key != 0) key_frames.push_back(static_cast<std::uint32_t>(entries.size()));
    entries.push_back(IndexEntry{position, size, key});
  }

  // 0 without key frames, 1 when every entry is one, else the widest gap between consecutive
  // key frames (0 when there is only one).
  std::uint32_t key_frame_distance() const;
};
