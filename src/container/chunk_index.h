#pragma once
// Where every chunk of one stream lies. Entry n of a video index is frame n.

#include <cstdint>
#include <vector>

namespace avikit {

struct IndexEntry {
  std::uint64_t position = 0;  // file offset of the chunk's data (after its 8-byte header)
  std::uint32_t size = 0;      // bytes of data
  std::uint32_t key = 0;       // non-zero for a key frame (0x10 from idx1, 1 from OpenDML)
};

// A palette change ("##pc") among a video stream's chunks: its colours hold from `frame` on.
struct PaletteChange {
  std::uint32_t frame = 0;     // entries of the stream before it
  std::uint32_t size = 0;      // bytes of data
  std::uint64_t position = 0;  // file offset of its data
};

struct ChunkIndex {
  std::vector<IndexEntry> entries;
  std::vector<std::uint32_t> key_frames;       // positions in `entries` of key frames, ascending
  std::vector<PaletteChange> palette_changes;  // in file order, so `frame` ascends
  std::uint64_t total_bytes = 0;               // sum of the entry sizes
  std::uint32_t largest_chunk = 0;             // largest entry size

  // A container that drops its indexes right after loading (the probe) only needs the
  // figures, so its indexes count entries instead of storing them: a million-entry index then
  // costs no memory. Such an index never leaves the container.
  bool figures_only = false;
  // Sound chunks are all "key frames" and nothing asks which: a sound index lists none, which
  // saves a fifth of its memory.
  bool lists_keys = true;
  // The first entry appended, stored or counted: the DV system is told from its chunk.
  IndexEntry first;
  // A figures-only index still keeps its first chunks, up to kHeadBytes: compressed sound is
  // measured from its first frames, and the probe measures it as the player does.
  static constexpr std::uint64_t kHeadBytes = 64 * 1024;
  static constexpr std::size_t kHeadEntries = 4096;
  std::vector<IndexEntry> head;

  void clear();
  void append(std::uint64_t position, std::uint32_t size, std::uint32_t key) {
    if (total_bytes == 0 && this->size() == 0) first = IndexEntry{position, size, key};
    if (size > largest_chunk) largest_chunk = size;
    total_bytes += size;
    if (figures_only) {
      if (total_bytes - size < kHeadBytes && head.size() < kHeadEntries) {
        head.push_back(IndexEntry{position, size, key});
      }
      count_entry(key != 0);
      return;
    }
    if (key != 0 && lists_keys) key_frames.push_back(static_cast<std::uint32_t>(entries.size()));
    entries.push_back(IndexEntry{position, size, key});
  }
  void append_palette_change(std::uint64_t position, std::uint32_t size) {
    if (!figures_only) {
      palette_changes.push_back({static_cast<std::uint32_t>(entries.size()), size, position});
    }
  }
  // Number of entries, stored or counted, and of key frames among them (listed ones only).
  std::uint64_t size() const { return figures_only ? counted_ : entries.size(); }
  std::uint64_t key_count() const { return figures_only ? keys_counted_ : key_frames.size(); }
  // 0 without key frames, 1 when every entry is one, else the widest gap between consecutive
  // key frames (0 when there is only one).
  std::uint32_t key_frame_distance() const;

 private:
  void count_entry(bool key);
  std::uint64_t counted_ = 0;
  std::uint64_t keys_counted_ = 0;
  std::uint64_t last_key_ = 0;
  std::uint32_t widest_key_gap_ = 0;
};

}  // namespace avikit
