#include "container/riff_reader.h"

#include <array>
#include <cstddef>
#include <span>
#include <utility>

#include "container/byte_cursor.h"
#include "container/fourccs.h"

namespace avikit::container {
namespace {

bool is_printable(std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }

// Moves the eight header bytes one place towards the front, freeing the last.
void shift_header(std::uint8_t (&b)[8]) {
  for (int i = 0; i < 7; ++i) b[i] = b[i + 1];
  b[7] = 0;
}

}  // namespace

bool is_stop_chunk(std::uint32_t id) {
  static constexpr std::array<std::uint32_t, 8> kStops = {kData, kFmt,  kIdx1, kIsft,
                                                          kStrh, kStrf, kAvih, kIndx};
  for (std::uint32_t s : kStops) {
    if (s == id) return true;
  }
  return false;
}

RiffReader& RiffReader::operator=(const RiffReader& other) {
  if (this != &other) {
    file_ = platform::File();
    source_ = other.source_;
    position_ = 0;
  }
  return *this;
}

bool RiffReader::open(const platform::FileSource& source) {
  platform::File file;
  if (!file.open(source)) return false;
  file_ = std::move(file);
  source_ = source;
  position_ = 0;
  return true;
}

void RiffReader::close() {
  file_ = platform::File();
  source_ = platform::FileSource();
  position_ = 0;
}

bool RiffReader::reopen() {
  if (file_.is_open()) return true;
  if (source_.empty() || !file_.open(source_)) return false;
  position_ = 0;  // A fresh handle stands at the start of the file.
  return true;
}

void RiffReader::seek(std::int64_t distance, SeekOrigin origin) {
  if (distance <= 0 || !file_.is_open()) return;
  const auto bits = static_cast<std::uint64_t>(distance);
  if (origin == SeekOrigin::kBegin) {
    position_ = bits;
  } else if (position_ <= static_cast<std::uint64_t>(INT64_MAX) - bits) {
    position_ += bits;
  }
}

std::uint32_t RiffReader::read(void* buffer, std::uint32_t count) {
  if (!file_.is_open() || buffer == nullptr || count == 0) return 0;
  const platform::ReadResult r =
      file_.read_at(position_, std::span(static_cast<std::byte*>(buffer), count));
  position_ += r.bytes;
  return static_cast<std::uint32_t>(r.bytes);
}

std::uint32_t RiffReader::read_at(std::uint64_t position, void* buffer, std::uint32_t count) {
  if (!file_.is_open() || position > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  position_ = position;
  return read(buffer, count);
}

std::uint32_t RiffReader::read_chunk_header(ChunkHeader& header, bool may_skip,
                                            std::optional<std::uint64_t> file_end) {
  // A header the reader cannot deliver is left with id 0, so callers holding it know.
  if (next_chunk_header(header, may_skip, file_end) == 0) header.id = 0;
  return header.id;
}

void RiffReader::skip_chunk_data(const ChunkHeader& header) {
  if (header.id == kRiff || header.id == kList) {
    if (header.size > 4) seek(header.size - 4, SeekOrigin::kCurrent);
  } else {
    seek(header.size, SeekOrigin::kCurrent);
  }
}

std::uint32_t RiffReader::next_chunk_header(ChunkHeader& header, bool may_skip,
                                            std::optional<std::uint64_t> file_end) {
  // Each pass reads a header and either returns or skips a non-empty chunk, so the walk moves
  // forward by at least 8 bytes per pass and ends at the end of the file.
  for (;;) {
    std::uint8_t b[8] = {};
    if (read(b, 8) < 8) return 0;
    if (!is_printable(b[0]) && may_skip) {
      // The size field excludes the pad byte after an odd-sized chunk, and skips move by the
      // size exactly: absorb that byte (and at most one more) here.
      shift_header(b);
      if (read(&b[7], 1) < 1) return 0;
      if (b[0] < 0x20) {
        shift_header(b);
        if (read(&b[7], 1) < 1) return 0;
        if (b[0] < 0x20 || b[1] < 0x20 || b[2] < 0x20 || b[3] < 0x20) return 0;
      }
    }
    header.id = le32(b);
    header.size = le32(b + 4);
    header.list_type = 0;
    if (is_stop_chunk(header.id)) return header.id;
    if (header.id == kRiff || header.id == kList) {
      std::uint8_t t[4] = {};
      if (read(t, 4) < 4) return 0;
      header.list_type = le32(t);
      return header.id;
    }
    // An empty chunk (a "strn" without a name, say) is passed over like any other: its header
    // was the whole of it.
    if (header.size == 0) {
      if (!may_skip) return 0;
      continue;
    }
    if (file_end && (position_ > *file_end || header.size > *file_end - position_)) return 0;
    if (!may_skip) return 0;
    const std::uint64_t before = position_;
    seek(header.size, SeekOrigin::kCurrent);
    if (position_ == before) return 0;  // The skip failed: stop rather than reread.
  }
}

}  // namespace avikit::container
