#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;
std::atomic<int> g_open_handles{0};

// A handle is a pointer to one of these; a magic word guards against foreign pointers.
struct FileObject {
  static constexpr std::uint32_t kMagic = 0x46494C45;  // "FILE"
  std::uint32_t magic = kMagic;
  int fd = -1;
  std::shared_ptr<const std::string> memory;
  std::uint64_t position = 0;
  // Read-ahead for small reads: a player reads chunk after chunk of a few kilobytes, and one
  // system call per chunk cost more than the copy out of this buffer.
  std::unique_ptr<std::uint8_t[]> ahead;
  std::uint64_t ahead_pos = 0;
  std::size_t ahead_len = 0;
};

constexpr std::size_t kReadAhead = 64 * 1024;

// Reads at `pos` straight from the descriptor; false on an error other than EINTR.
bool read_at(int fd, std::uint8_t* out, std::size_t count, std::uint64_t pos, std::size_t& done) {
  done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(pos + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Serves a small read from the read-ahead buffer, refilling it at the position when needed.
// Only bytes the descriptor returned are kept, so a file that grows later is read afresh past
// the old end.
bool read_small(FileObject& f, std::uint8_t* out, std::size_t count, std::size_t& done) {
  const bool inside = f.position >= f.ahead_pos && f.position - f.ahead_pos <= f.ahead_len &&
                      f.ahead_len - (f.position - f.ahead_pos) >= count;
  if (!inside) {
    if (!f.ahead) f.ahead = std::make_unique<std::uint8_t[]>(kReadAhead);
    f.ahead_len = 0;
    std::size_t got = 0;
    if (!read_at(f.fd, f.ahead.get(), kReadAhead, f.position, got)) return false;
    f.ahead_pos = f.position;
    f.ahead_len = got;
  }
  const std::size_t offset = static_cast<std::size_t>(f.position - f.ahead_pos);
  done = std::min(count, f.ahead_len - offset);
  std::memcpy(out, f.ahead.get() + offset, done);
  return true;
}

std::mutex& memory_files_mutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::shared_ptr<const std::string>>& memory_files() {
  static std::map<std::string, std::shared_ptr<const std::string>> files;
  return files;
}

FileObject* as_file(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  auto* f = static_cast<FileObject*>(h);
  return f->magic == FileObject::kMagic ? f : nullptr;
}

std::uint64_t size_of(const FileObject& f) {
  if (f.memory) return f.memory->size();
  struct stat st {};
  if (fstat(f.fd, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD /*share*/, void* /*security*/,
                   DWORD disposition, DWORD /*flags*/, HANDLE /*template_file*/) {
  if (name == nullptr || (access & ~GENERIC_READ) != 0 || disposition != OPEN_EXISTING) {
    t_last_error = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  auto f = std::make_unique<FileObject>();
  {
    std::lock_guard<std::mutex> lock(memory_files_mutex());
    auto it = memory_files().find(name);
    if (it != memory_files().end()) f->memory = it->second;
  }
  if (!f->memory) {
    f->fd = ::open(name, O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (f->fd < 0 || fstat(f->fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      if (f->fd >= 0) ::close(f->fd);
      t_last_error = ERROR_FILE_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
  }
  ++g_open_handles;
  t_last_error = ERROR_SUCCESS;
  return f.release();  // Owned by the caller until CloseHandle.
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void* /*overlapped*/) {
  if (read != nullptr) *read = 0;
  FileObject* f = as_file(file);
  if (f == nullptr || (buffer == nullptr && to_read > 0)) {
    t_last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  DWORD done = 0;
  if (f->memory) {
    const std::uint64_t size = f->memory->size();
    if (f->position < size) {
      const std::uint64_t avail = size - f->position;
      done = static_cast<DWORD>(avail < to_read ? avail : to_read);
      std::memcpy(buffer, f->memory->data() + f->position, done);
    }
  } else {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    const bool ok = to_read <= kReadAhead / 2 ? read_small(*f, out, to_read, got)
                                              : read_at(f->fd, out, to_read, f->position, got);
    done = static_cast<DWORD>(got);
    if (!ok) {
      f->position += done;
      if (read != nullptr) *read = done;
      t_last_error = ERROR_READ_FAULT;
      return FALSE;
    }
  }
  f->position += done;
  if (read != nullptr) *read = done;
  t_last_error = ERROR_SUCCESS;
  return TRUE;  // End of file is a successful read of fewer bytes, as on Windows.
}

DWORD SetFilePointer(HANDLE file, LONG distance_low, LONG* distance_high, DWORD method) {
  FileObject* f = as_file(file);
  if (f == nullptr) {
    t_last_error = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t distance =
      distance_high != nullptr
          ? static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<DWORD>(*distance_high))
                                          << 32 |
                                      static_cast<DWORD>(distance_low))
          : std::int64_t{distance_low};
  std::int64_t base = 0;
  switch (method) {
    case FILE_BEGIN:
      base = 0;
      break;
    case FILE_CURRENT:
      base = static_cast<std::int64_t>(f->position);
      break;
    case FILE_END:
      base = static_cast<std::int64_t>(size_of(*f));
      break;
    default:
      t_last_error = ERROR_INVALID_PARAMETER;
      return INVALID_SET_FILE_POINTER;
  }
  if ((distance < 0 && base + distance < 0) || (distance > 0 && base > INT64_MAX - distance)) {
    t_last_error = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  f->position = static_cast<std::uint64_t>(base + distance);
  if (distance_high != nullptr) *distance_high = static_cast<LONG>(f->position >> 32);
  t_last_error = ERROR_SUCCESS;
  return static_cast<DWORD>(f->position);
}

DWORD GetFileSize(HANDLE file, DWORD* size_high) {
  FileObject* f = as_file(file);
  if (f == nullptr) {
    t_last_error = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  const std::uint64_t size = size_of(*f);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  t_last_error = ERROR_SUCCESS;
  return static_cast<DWORD>(size);
}

BOOL CloseHandle(HANDLE handle) {
  FileObject* f = as_file(handle);
  if (f == nullptr) {
    t_last_error = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (f->fd >= 0) ::close(f->fd);
  f->magic = 0;
  delete f;  // Pairs with the release in CreateFileA.
  --g_open_handles;
  return TRUE;
}

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

void register_memory_file(const std::string& name, std::shared_ptr<const std::string> bytes) {
  std::lock_guard<std::mutex> lock(memory_files_mutex());
  memory_files()[name] = std::move(bytes);
}

void unregister_memory_file(const std::string& name) {
  std::lock_guard<std::mutex> lock(memory_files_mutex());
  memory_files().erase(name);
}

int open_file_handles() { return g_open_handles.load(); }

}  // namespace platform
