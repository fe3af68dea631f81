#pragma once
// platform::File: one read-only file, read at explicit 64-bit offsets. Its bytes come from a
// descriptor or from a buffer in memory (a FileSource says which); the readers above cannot
// tell which.
//
//   platform::File f;
//   if (f.open("clip.avi")) {
//     std::array<std::byte, 12> head;
//     const platform::ReadResult r = f.read_at(0, head);   // r.bytes short only at the end
//     f.drop();                                           // descriptor closed, source kept
//     f.read_at(8, std::span(head).first(4));             // opened again from its source
//   }
//
// Threads: one File, one thread.

#include <avikit/in_memory_file.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace avikit::platform {

// Bytes a file reads from memory, shared with whoever made them.
using FileBytes = std::shared_ptr<const std::string>;

// Where a file's bytes come from: the file system by name, or bytes in memory that the name only
// labels (it may be empty then). Copies share the bytes.
struct FileSource {
  FileSource() = default;
  // Implicit, so everything that opened by name still takes a name; null is no file.
  FileSource(const char* path) : name(path != nullptr ? path : "") {}
  FileSource(std::string path) : name(std::move(path)) {}
  // Null bytes are no file, never a look-up of the name on disk.
  FileSource(const InMemoryFile& file)
      : name(file.bytes != nullptr ? file.name : std::string()), bytes(file.bytes) {}

  bool empty() const { return name.empty() && bytes == nullptr; }

  std::string name;
  FileBytes bytes;  // null: `name` is read from the file system
};

// One file for sharing a reading of it: the same bytes in memory, or the same name on disk
// (letter case aside, as the players have always matched names).
bool same_file(const FileSource& a, const FileSource& b);

// What one read delivered: the bytes before the end of the file, or before an error (errno).
struct ReadResult {
  std::size_t bytes = 0;
  int error = 0;
  bool ok() const { return error == 0; }
};

class File {
 public:
  File() = default;  // no file: reads fail with EBADF
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens a regular file, or bytes in memory, for reading; false leaves the File empty.
  // Opening an open File closes it first.
  bool open(const FileSource& source);
  // Lets the descriptor go but keeps the source: the next read or size() opens it again. Bytes
  // in memory stay held by the source meanwhile.
  void drop();
  // True while the bytes are at hand without opening anything.
  bool is_open() const { return fd_ >= 0 || bytes_ != nullptr; }
  const std::string& name() const { return source_.name; }
  const FileSource& source() const { return source_; }

  // Reads up to out.size() bytes at `offset`; past the end is a successful read of fewer.
  ReadResult read_at(std::uint64_t offset, std::span<std::byte> out);
  // The size now (a file on disk may grow); 0 when it cannot be opened.
  std::uint64_t size();

 private:
  bool reopen();
  void release();
  bool read_ahead(std::uint64_t offset, std::span<std::byte> out, ReadResult& result);

  FileSource source_;
  int fd_ = -1;
  FileBytes bytes_;  // the source's bytes while open
  // Read-ahead for small reads: a player reads chunk after chunk of a few kilobytes, and one
  // system call per chunk cost more than the copy out of this buffer.
  std::unique_ptr<std::byte[]> ahead_;
  std::uint64_t ahead_pos_ = 0;
  std::size_t ahead_len_ = 0;
};

// Files currently holding a descriptor or bytes, for leak checks in tests.
int open_file_handles();

}  // namespace avikit::platform
