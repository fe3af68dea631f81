#pragma once
// RiffReader: the first stage of reading an AVI or WAVE file. It owns the file and the position
// the header walk reads at, and hands back one chunk header at a time; the header parse and the
// index loader above it read through it and never touch the file themselves.
//
//   RiffReader r;
//   if (r.open("clip.avi")) {
//     ChunkHeader h;
//     r.read_chunk_header(h, /*may_skip=*/false, std::nullopt);   // "RIFF", list_type "AVI "
//   }
//
// Copies keep the source (the name, or the bytes in memory) and never the file: a copy opens it
// again (reopen) and reads from position 0 until its first absolute seek. Threads: one reader, one
// thread.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/files.h"

namespace avikit::container {

// What read_chunk_header delivers.
struct ChunkHeader {
  std::uint32_t id = 0;         // FOURCC
  std::uint32_t size = 0;       // size field; the caller reads or skips the data itself
  std::uint32_t list_type = 0;  // form or list type after "RIFF" / "LIST", else 0
};

enum class SeekOrigin { kBegin, kCurrent };

// Chunks whose header the reader returns with the file at their data; every other id (besides
// "RIFF" and "LIST") is skipped over when skipping is allowed.
bool is_stop_chunk(std::uint32_t id);

class RiffReader {
 public:
  RiffReader() = default;
  RiffReader(const RiffReader& other) : source_(other.source_) {}
  RiffReader& operator=(const RiffReader& other);
  RiffReader(RiffReader&&) noexcept = default;
  RiffReader& operator=(RiffReader&&) noexcept = default;
  ~RiffReader() = default;

  // Opens `source` at position 0; a file that cannot be opened leaves the reader as it was.
  bool open(const platform::FileSource& source);
  // File and source gone, position 0.
  void close();
  // Lets the file go and keeps the source; reopen() takes it up again at position 0.
  void drop() { file_.drop(); }
  bool reopen();
  bool holds_file() const { return file_.is_open(); }
  const platform::FileSource& source() const { return source_; }  // empty when closed
  const std::string& name() const { return source_.name; }
  // The size now; 0 without a file held.
  std::uint64_t file_size() { return file_.is_open() ? file_.size() : 0; }

  std::uint64_t position() const { return position_; }
  // A distance of 0 or less moves nothing, whatever the origin, and neither does a move without
  // a file or one past the largest signed 64-bit offset.
  void seek(std::int64_t distance, SeekOrigin origin);
  // Reads at the position; returns the bytes read (short at end of file, 0 without a file held)
  // and advances the position by them.
  std::uint32_t read(void* buffer, std::uint32_t count);
  // Moves to an absolute position (0 included) and reads there, as read().
  std::uint32_t read_at(std::uint64_t position, void* buffer, std::uint32_t count);

  // The id of the chunk whose header it delivers, or 0 with header.id 0 (end of file, an
  // unusable header, or a chunk it may not skip). Stop chunks leave the position at their data;
  // "RIFF" and "LIST" at their first sub-chunk with list_type filled. Other chunks are skipped
  // when may_skip, never past `file_end` when it is given, else 0. With may_skip, up to two
  // stray bytes before a header (the pad byte after an odd-sized chunk) are absorbed.
  std::uint32_t read_chunk_header(ChunkHeader& header, bool may_skip,
                                  std::optional<std::uint64_t> file_end);
  // Steps over the data of the chunk whose header read_chunk_header delivered ("RIFF" and
  // "LIST" have given up the 4 bytes of their type already).
  void skip_chunk_data(const ChunkHeader& header);

 private:
  std::uint32_t next_chunk_header(ChunkHeader& header, bool may_skip,
                                  std::optional<std::uint64_t> file_end);

  platform::File file_;  // not open while no file is held
  platform::FileSource source_;
  std::uint64_t position_ = 0;  // where the next read() reads
};

}  // namespace avikit::container
