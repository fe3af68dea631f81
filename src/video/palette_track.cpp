#include "video/palette_track.h"

#include <algorithm>
#include <cstring>

#include "container/avi_container.h"
#include "container/byte_cursor.h"

namespace avikit {

namespace {

using container::le16;

constexpr std::size_t kHeaderBytes = 40;
constexpr std::size_t kTableBytes = 4 * 256;
// A change: first entry, entry count (0 for all 256), flags, then red, green, blue, flags for
// each entry.
constexpr std::uint32_t kChangeHeaderBytes = 4;
constexpr std::uint32_t kChangeBytes = kChangeHeaderBytes + kTableBytes;

}  // namespace

void PaletteTrack::clear() {
  index_ = nullptr;
  block_.clear();
  applied_ = 0;
  checkpoints_.clear();
}

void PaletteTrack::start(const ChunkIndex& index, std::span<const std::uint8_t> format) {
  clear();
  index_ = &index;
  // The table grows to 256 entries; those the stream's own table lacks start black.
  block_.assign(kHeaderBytes + kTableBytes, 0);
  std::memcpy(block_.data(), format.data(), std::min(format.size(), block_.size()));
}

void PaletteTrack::apply(const PaletteChange& change, AviContainer& file) {
  std::array<std::uint8_t, kChangeBytes> bytes{};
  const std::uint32_t got = file.read_at(change.position, bytes.data(),
                                         std::min<std::uint32_t>(change.size, kChangeBytes));
  if (got < kChangeHeaderBytes) return;
  const std::uint32_t first = bytes[0];
  const std::uint32_t count = bytes[1] == 0 ? 256 : bytes[1];
  const std::uint32_t held = (got - kChangeHeaderBytes) / 4;
  const std::uint32_t n = std::min({count, held, 256 - first});
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t* from = bytes.data() + kChangeHeaderBytes + 4 * i;
    std::uint8_t* to = block_.data() + kHeaderBytes + 4 * (first + i);
    to[0] = from[2];
    to[1] = from[1];
    to[2] = from[0];
  }
}

std::span<const std::uint8_t> PaletteTrack::format_at(std::uint32_t frame, const ChunkIndex& index,
                                                      std::span<const std::uint8_t> format,
                                                      AviContainer& file) {
  const auto& changes = index.palette_changes;
  // Only a colour table has entries to change: a deeper stream's block may hold masks there.
  if (changes.empty() || format.size() < kHeaderBytes || le16(format.data() + 14) > 8) {
    return format;
  }
  if (index_ != &index) start(index, format);
  // The header follows the stream's (the reader updates its image size).
  std::memcpy(block_.data(), format.data(), kHeaderBytes);
  const auto wanted = static_cast<std::size_t>(
      std::upper_bound(changes.begin(), changes.end(), frame,
                       [](std::uint32_t f, const PaletteChange& c) { return f < c.frame; }) -
      changes.begin());
  if (wanted < applied_) {
    const std::size_t k = wanted / kCheckpointEvery;
    std::memcpy(block_.data() + kHeaderBytes, checkpoints_[k].data(), kTableBytes);
    applied_ = k * kCheckpointEvery;
  }
  // Ends: applied_ grows by one a turn up to wanted, which is at most changes.size().
  while (applied_ < wanted) {
    if (applied_ % kCheckpointEvery == 0 && checkpoints_.size() == applied_ / kCheckpointEvery) {
      checkpoints_.emplace_back();
      std::memcpy(checkpoints_.back().data(), block_.data() + kHeaderBytes, kTableBytes);
    }
    apply(changes[applied_], file);
    ++applied_;
  }
  return block_;
}

}  // namespace avikit
