#include "platform/sync.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace avikit::platform {

void InitializeCriticalSection(CRITICAL_SECTION* cs) {
  if (cs != nullptr) cs->mutex = std::make_unique<std::recursive_mutex>();
}
void DeleteCriticalSection(CRITICAL_SECTION* cs) {
  if (cs != nullptr) cs->mutex.reset();
}
void EnterCriticalSection(CRITICAL_SECTION* cs) {
  if (cs != nullptr && cs->mutex) cs->mutex->lock();
}
void LeaveCriticalSection(CRITICAL_SECTION* cs) {
  if (cs != nullptr && cs->mutex) cs->mutex->unlock();
}
BOOL TryEnterCriticalSection(CRITICAL_SECTION* cs) {
  return cs != nullptr && cs->mutex && cs->mutex->try_lock() ? TRUE : FALSE;
}

DWORD GetCurrentThreadId() {
  thread_local const DWORD id = static_cast<DWORD>(::syscall(SYS_gettid));
  return id;
}

namespace {

// A global memory handle points at this header; the bytes follow it.
struct GlobalBlock {
  static constexpr std::uint32_t kMagic = 0x474C4F42;  // "GLOB"
  std::uint32_t magic;
  std::size_t size;
  int lock_count;
  alignas(std::max_align_t) unsigned char data[1];
};

GlobalBlock* as_block(HGLOBAL h) {
  auto* b = static_cast<GlobalBlock*>(h);
  return b != nullptr && b->magic == GlobalBlock::kMagic ? b : nullptr;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(GlobalBlock)) return nullptr;
  void* raw = ::operator new(sizeof(GlobalBlock) + bytes, std::nothrow);
  if (raw == nullptr) return nullptr;
  auto* b = static_cast<GlobalBlock*>(raw);
  b->magic = GlobalBlock::kMagic;
  b->size = bytes;
  b->lock_count = 0;
  if ((flags & GMEM_ZEROINIT) != 0) std::memset(b->data, 0, bytes);
  return b;
}

void* GlobalLock(HGLOBAL memory) {
  GlobalBlock* b = as_block(memory);
  if (b == nullptr) return nullptr;
  ++b->lock_count;
  return b->data;
}

BOOL GlobalUnlock(HGLOBAL memory) {
  GlobalBlock* b = as_block(memory);
  if (b == nullptr || b->lock_count == 0) return FALSE;
  return --b->lock_count > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL memory) {
  GlobalBlock* b = as_block(memory);
  return b == nullptr ? 0 : b->size;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  GlobalBlock* b = as_block(memory);
  if (b == nullptr) return memory;
  b->magic = 0;
  ::operator delete(b);  // Pairs with the operator new in GlobalAlloc.
  return nullptr;
}

}  // namespace avikit::platform
