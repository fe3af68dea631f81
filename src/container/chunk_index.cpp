#include "container/chunk_index.h"

namespace avikit {

void ChunkIndex::clear() {
  entries.clear();
  key_frames.clear();
  palette_changes.clear();
  head.clear();
  total_bytes = 0;
  largest_chunk = 0;
  first = IndexEntry{};
  counted_ = 0;
  keys_counted_ = 0;
  last_key_ = 0;
  widest_key_gap_ = 0;
}

void ChunkIndex::count_entry(bool key) {
  if (key) {
    if (keys_counted_ != 0) {
      const std::uint64_t gap = counted_ - last_key_;
      if (gap > widest_key_gap_) widest_key_gap_ = static_cast<std::uint32_t>(gap);
    }
    last_key_ = counted_;
    ++keys_counted_;
  }
  ++counted_;
}

std::uint32_t ChunkIndex::key_frame_distance() const {
  if (figures_only) {
    if (keys_counted_ == 0) return 0;
    return keys_counted_ == counted_ ? 1 : widest_key_gap_;
  }
  if (key_frames.empty()) return 0;
  if (key_frames.size() == entries.size()) return 1;
  std::uint32_t widest = 0;
  for (std::size_t i = 1; i < key_frames.size(); ++i) {
    const std::uint32_t gap = key_frames[i] - key_frames[i - 1];
    if (gap > widest) widest = gap;
  }
  return widest;
}

}  // namespace avikit
