#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace avikit::platform {
namespace {

std::atomic<int> g_open_files{0};

constexpr std::size_t kReadAhead = 64 * 1024;

// Reads at `offset` straight from the descriptor until `out` is full or the file ends.
ReadResult pread_all(int fd, std::uint64_t offset, std::span<std::byte> out) {
  ReadResult r;
  while (r.bytes < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + r.bytes, out.size() - r.bytes,
                              static_cast<off_t>(offset + r.bytes));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      r.error = errno;
      break;
    }
    if (n == 0) break;
    r.bytes += static_cast<std::size_t>(n);
  }
  return r;
}

}  // namespace

bool same_file(const FileSource& a, const FileSource& b) {
  if (a.bytes != nullptr || b.bytes != nullptr) return a.bytes == b.bytes;
  return !a.name.empty() && a.name.size() == b.name.size() &&
         std::equal(a.name.begin(), a.name.end(), b.name.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

File::~File() { release(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this == &other) return *this;
  release();
  source_ = std::exchange(other.source_, FileSource());
  fd_ = std::exchange(other.fd_, -1);
  bytes_ = std::move(other.bytes_);
  ahead_ = std::move(other.ahead_);
  ahead_pos_ = std::exchange(other.ahead_pos_, 0);
  ahead_len_ = std::exchange(other.ahead_len_, 0);
  return *this;
}

bool File::open(const FileSource& source) {
  release();
  source_ = source;
  if (reopen()) return true;
  source_ = FileSource();
  return false;
}

bool File::reopen() {
  if (is_open()) return true;
  if (source_.empty()) return false;
  ahead_len_ = 0;
  bytes_ = source_.bytes;
  if (bytes_ == nullptr) {
    fd_ = ::open(source_.name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ < 0 || fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = -1;
      return false;
    }
  }
  ++g_open_files;
  return true;
}

void File::drop() {
  if (!is_open()) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  bytes_.reset();
  ahead_len_ = 0;
  --g_open_files;
}

void File::release() {
  drop();
  ahead_.reset();
}

ReadResult File::read_at(std::uint64_t offset, std::span<std::byte> out) {
  if (!reopen()) return ReadResult{0, EBADF};
  if (out.empty()) return {};
  if (bytes_ != nullptr) {
    ReadResult r;
    if (offset < bytes_->size()) {
      r.bytes =
          static_cast<std::size_t>(std::min<std::uint64_t>(bytes_->size() - offset, out.size()));
      std::memcpy(out.data(), bytes_->data() + offset, r.bytes);
    }
    return r;
  }
  if (offset > static_cast<std::uint64_t>(INT64_MAX) - out.size()) return ReadResult{0, EINVAL};
  ReadResult r;
  if (out.size() <= kReadAhead / 2 && read_ahead(offset, out, r)) return r;
  return pread_all(fd_, offset, out);
}

// Serves a small read from the read-ahead buffer, refilling it at `offset` when needed. Only
// bytes the descriptor returned are kept, so a file that grows later is read afresh past the
// old end. False when the refill failed.
bool File::read_ahead(std::uint64_t offset, std::span<std::byte> out, ReadResult& result) {
  const bool inside = offset >= ahead_pos_ && offset - ahead_pos_ <= ahead_len_ &&
                      ahead_len_ - (offset - ahead_pos_) >= out.size();
  if (!inside) {
    if (!ahead_) ahead_ = std::make_unique<std::byte[]>(kReadAhead);
    ahead_len_ = 0;
    const ReadResult fill = pread_all(fd_, offset, std::span(ahead_.get(), kReadAhead));
    if (!fill.ok()) return false;
    ahead_pos_ = offset;
    ahead_len_ = fill.bytes;
  }
  const auto skip = static_cast<std::size_t>(offset - ahead_pos_);
  result.bytes = std::min(out.size(), ahead_len_ - skip);
  std::memcpy(out.data(), ahead_.get() + skip, result.bytes);
  return true;
}

std::uint64_t File::size() {
  if (!reopen()) return 0;
  if (bytes_ != nullptr) return bytes_->size();
  struct stat st {};
  if (fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

int open_file_handles() { return g_open_files.load(); }

}  // namespace avikit::platform
