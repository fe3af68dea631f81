#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
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
};

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
    while (done < to_read) {
      const ssize_t n = ::pread(f->fd, out + done, to_read - done,
                                static_cast<off_t>(f->position + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        f->position += done;
        if (read != nullptr) *read = done;
        t_last_error = ERROR_READ_FAULT;
        return FALSE;
      }
      if (n == 0) break;
      done += static_cast<DWORD>(n);
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
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = static_cast<std::int64_t>(f->position); break;
    case FILE_END: base = static_cast<std::int64_t>(size_of(*f)); break;
    default: t_last_error = ERROR_INVALID_PARAMETER; return INVALID_SET_FILE_POINTER;
  }
  if ((distance < 0 && base + distance < 0) ||
      (distance > 0 && base > INT64_MAX - distance)) {
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
