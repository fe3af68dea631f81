#pragma once
// platform::File: one read-only file, read at explicit 64-bit offsets. Its bytes come from a
// descriptor or from a buffer in memory; the readers above cannot tell which.
//
//   platform::File f;
//   if (f.open("clip.avi")) {
//     std::array<std::byte, 12> head;
//     const platform::ReadResult r = f.read_at(0, head);   // r.bytes short only at the end
//     f.drop();                                           // descriptor closed, name kept
//     f.read_at(8, std::span(head).first(4));             // opened again by name
//   }
//
// A name registered with register_memory_file opens its bytes instead of the file system, so
// the probe, the players, tests and fuzz targets open in-memory files by name like any other.
// Threads: one File, one thread; the registry itself is locked.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace avikit::platform {

// Bytes a file reads from memory, shared with whoever made them.
using FileBytes = std::shared_ptr<const std::string>;

// What one read delivered: the bytes before the end of the file, or before an error (errno).
struct ReadResult {
  std::size_t bytes = 0;
  int error = 0;
  bool ok() const { return error == 0; }
};

class File {
 public:
  File() = default;  // no file: reads fail with EBADF
  // Bytes of its own, with no name: drop() keeps them.
  static File from_bytes(FileBytes bytes);
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens a regular file (or a registered name) for reading; false leaves the File empty.
  // Opening an open File closes it first.
  bool open(const std::string& name);
  // Lets the descriptor go but keeps the name: the next read or size() opens it again.
  void drop();
  // True while the bytes are at hand without opening anything.
  bool is_open() const { return fd_ >= 0 || bytes_ != nullptr; }
  const std::string& name() const { return name_; }

  // Reads up to out.size() bytes at `offset`; past the end is a successful read of fewer.
  ReadResult read_at(std::uint64_t offset, std::span<std::byte> out);
  // The size now (a file on disk may grow); 0 when it cannot be opened.
  std::uint64_t size();

 private:
  bool reopen();
  void release();
  bool read_ahead(std::uint64_t offset, std::span<std::byte> out, ReadResult& result);

  std::string name_;  // empty for from_bytes files
  int fd_ = -1;
  FileBytes bytes_;
  bool own_bytes_ = false;  // from_bytes: the bytes are the file, not a lookup by name
  // Read-ahead for small reads: a player reads chunk after chunk of a few kilobytes, and one
  // system call per chunk cost more than the copy out of this buffer.
  std::unique_ptr<std::byte[]> ahead_;
  std::uint64_t ahead_pos_ = 0;
  std::size_t ahead_len_ = 0;
};

// Later opens of `name` read `bytes` instead of the file system, until unregistered.
void register_memory_file(const std::string& name, FileBytes bytes);
void unregister_memory_file(const std::string& name);
// Files currently holding a descriptor or bytes, for leak checks in tests.
int open_file_handles();

}  // namespace avikit::platform
