#include "container/chunk_index.h"

std::uint32_t ChunkIndex::key_frame_distance() const {
  if (key_frames.empty()) return 0;
  if (key_frames.size() == entries.size()) return 1;
  std::uint32_t widest = 0;
  for (std::size_t i = 1; i < key_frames.size(); ++i) {
    const std::uint32_t gap = key_frames[i] - key_frames[i - 1];
    if (gap > widest) widest = gap;
  }
  return widest;
}
