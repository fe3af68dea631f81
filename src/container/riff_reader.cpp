#include "container/riff_reader.h"

#include <array>

#include "container/avi_container.h"
#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace container {

bool is_stop_chunk(std::uint32_t id) {
  static constexpr std::array<std::uint32_t, 8> kStops = {kData, kFmt,  kIdx1, kIsft,
                                                          kStrh, kStrf, kAvih, kIndx};
  for (std::uint32_t s : kStops) {
    if (s == id) return true;
  }
  return false;
}

}  // namespace container

using namespace container;

namespace {

bool is_printable(std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }

// Moves the eight header bytes one place towards the front, freeing the last.
void shift_header(std::uint8_t (&b)[8]) {
  for (int i = 0; i < 7; ++i) b[i] = b[i + 1];
  b[7] = 0;
}

}  // namespace

std::uint32_t AviContainer::read_chunk_header(ChunkHeader& header, bool may_skip) {
  // A header the reader cannot deliver is left with id 0, so callers holding it know.
  if (next_chunk_header(header, may_skip) == 0) header.id = 0;
  return header.id;
}

std::uint32_t AviContainer::next_chunk_header(ChunkHeader& header, bool may_skip) {
  // Each pass reads a header and either returns or skips a non-empty chunk, so the walk moves
  // forward by at least 8 bytes per pass and ends at the end of the file.
  for (;;) {
    std::uint8_t b[8] = {};
    if (read_bytes(b, 8) < 8) return 0;
    if (!is_printable(b[0]) && may_skip) {
      // The size field excludes the pad byte after an odd-sized chunk, and skips move by the
      // size exactly: absorb that byte (and at most one more) here.
      shift_header(b);
      if (read_bytes(&b[7], 1) < 1) return 0;
      if (b[0] < 0x20) {
        shift_header(b);
        if (read_bytes(&b[7], 1) < 1) return 0;
        if (b[0] < 0x20 || b[1] < 0x20 || b[2] < 0x20 || b[3] < 0x20) return 0;
      }
    }
    header.id = le32(b);
    header.size = le32(b + 4);
    header.list_type = 0;
    if (is_stop_chunk(header.id)) return header.id;
    if (header.id == kRiff || header.id == kList) {
      std::uint8_t t[4] = {};
      if (read_bytes(t, 4) < 4) return 0;
      header.list_type = le32(t);
      return header.id;
    }
    // An empty chunk (a "strn" without a name, say) is passed over like any other: its header
    // was the whole of it.
    if (header.size == 0) {
      if (!may_skip) return 0;
      continue;
    }
    if (stream_table_) {
      const std::uint64_t end = stream_table_->file_size;
      if (tracked_position_ > end || header.size > end - tracked_position_) return 0;
    }
    if (!may_skip) return 0;
    const std::uint64_t before = tracked_position_;
    seek_tracked(header.size, SeekOrigin::kCurrent);
    if (tracked_position_ == before) return 0;  // The skip failed: stop rather than reread.
  }
}
