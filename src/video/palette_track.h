#pragma once
// PaletteTrack: the colour table of an 8- or 4-bit uncompressed stream at any frame: the
// stream's own table, then every palette change ("##pc") before that frame in file order, so a
// seek sees the colours that playing from the start would have left.
//
// Bounds: each change is read once on the way forward; a full table is kept every
// kCheckpointEvery changes (1 KB each), so going back re-reads at most that many changes.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "container/chunk_index.h"

namespace avikit {

class AviContainer;

class PaletteTrack {
 public:
  static constexpr std::size_t kCheckpointEvery = 64;

  // The stream's format block (`format`: header and colour table) with the table as the changes
  // of `index` leave it at `frame`; `format` itself when the index holds none.
  std::span<const std::uint8_t> format_at(std::uint32_t frame, const ChunkIndex& index,
                                          std::span<const std::uint8_t> format, AviContainer& file);
  void clear();

 private:
  using Table = std::array<std::uint8_t, 4 * 256>;  // RGBQUAD entries: blue, green, red, 0
  void start(const ChunkIndex& index, std::span<const std::uint8_t> format);
  void apply(const PaletteChange& change, AviContainer& file);

  const ChunkIndex* index_ = nullptr;  // the index the state below follows
  std::vector<std::uint8_t> block_;    // header, then the current table
  std::size_t applied_ = 0;            // changes in the current table
  std::vector<Table> checkpoints_;     // checkpoints_[k]: the table after k * kCheckpointEvery
};

}  // namespace avikit
