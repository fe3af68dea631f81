#include "video/picture_cache.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>

namespace avikit {

namespace {

// Huge pages are 2 MiB on x86-64; slabs are multiples of them.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSlabBytes = std::size_t{32} << 20;

std::uint32_t distance(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

// Faults the slab in at once where the kernel can (Linux 5.14): one call instead of a trap per
// page, which under a hypervisor cost more than the copies.
void populate(void* p, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  ::madvise(p, bytes, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)bytes;
#endif
}

std::size_t whole_huge_pages(std::uint64_t bytes) {
  return static_cast<std::size_t>((bytes + kHugePage - 1) / kHugePage * kHugePage);
}

// Slabs no cache holds, faulted in already, up to a default cache's worth: a process that
// opens players one after another (a data loader, an editor reopening a clip) would otherwise
// have every new cache's pages zeroed by the kernel again.
constexpr std::size_t kPoolBytes = std::size_t{256} << 20;

struct SlabPool {
  std::mutex lock;
  std::vector<std::pair<std::uint8_t*, std::size_t>> slabs;
  std::size_t bytes = 0;
};

// Never destroyed: a cache in an object destroyed at exit may still hand its slabs back.
SlabPool& pool() {
  static auto* const p = new SlabPool;
  return *p;
}

// A pooled slab of between `least` and `most` bytes, or null.
std::pair<std::uint8_t*, std::size_t> take_pooled(std::size_t least, std::size_t most) {
  SlabPool& p = pool();
  std::lock_guard<std::mutex> hold(p.lock);
  for (auto it = p.slabs.begin(); it != p.slabs.end(); ++it) {
    if (it->second < least || it->second > most) continue;
    const auto slab = *it;
    p.slabs.erase(it);
    p.bytes -= slab.second;
    return slab;
  }
  return {nullptr, 0};
}

void give_back(std::uint8_t* bytes, std::size_t size) {
  {
    SlabPool& p = pool();
    std::lock_guard<std::mutex> hold(p.lock);
    if (p.bytes + size <= kPoolBytes) {
      p.slabs.emplace_back(bytes, size);
      p.bytes += size;
      return;
    }
  }
  std::free(bytes);
}

}  // namespace

void PictureCache::set_limit(std::uint64_t bytes) {
  limit_ = bytes;
  if (!pictures_.empty()) evict(pictures_.begin()->first);
}

bool PictureCache::worth_keeping(std::uint32_t frame, std::uint32_t position,
                                 std::size_t bytes) const {
  return bytes > 0 && distance(frame, position) < limit_ / bytes;
}

const std::uint8_t* PictureCache::find(std::uint32_t frame) const {
  const auto it = pictures_.find(frame);
  return it == pictures_.end() ? nullptr : it->second;
}

std::uint8_t* PictureCache::take_slot() {
  if (free_slots_.empty()) {
    // Never more than the bound holds: a small bound gets a small slab.
    const std::uint64_t room = std::min<std::uint64_t>(kSlabBytes, limit_);
    const auto per_slab = std::max<std::size_t>(1, static_cast<std::size_t>(room / picture_bytes_));
    const std::size_t bytes = whole_huge_pages(per_slab * picture_bytes_);
    auto [p, size] = take_pooled(bytes, std::max(bytes, whole_huge_pages(room)));
    if (p == nullptr) {
      size = bytes;
      p = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, bytes));
      if (p == nullptr) return nullptr;
      ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without huge pages it works all the same
      populate(p, bytes);
    }
    slabs_.push_back({p, size});
    for (std::size_t i = per_slab; i-- > 0;) free_slots_.push_back(p + i * picture_bytes_);
  }
  std::uint8_t* slot = free_slots_.back();
  free_slots_.pop_back();
  return slot;
}

bool PictureCache::hold_size(std::size_t size) {
  if (size == 0 || size > limit_) return false;
  if (size != picture_bytes_) {
    clear();
    picture_bytes_ = size;
  }
  return true;
}

void PictureCache::put(std::uint32_t frame, std::uint32_t position, const std::uint8_t* bytes,
                       std::size_t size) {
  if (!hold_size(size)) return;
  std::uint8_t*& slot = pictures_[frame];
  if (slot == nullptr) slot = take_slot();
  if (slot == nullptr) {
    pictures_.erase(frame);
    return;
  }
  std::memcpy(slot, bytes, size);
  evict(position);
}

std::uint8_t* PictureCache::borrow(std::uint32_t position, std::size_t size) {
  if (!hold_size(size)) return nullptr;
  ++borrowed_;
  evict(position);
  std::uint8_t* slot = borrowed_ * picture_bytes_ <= limit_ ? take_slot() : nullptr;
  if (slot == nullptr) --borrowed_;
  return slot;
}

void PictureCache::adopt(std::uint32_t frame, std::uint32_t position, std::uint8_t* slot) {
  --borrowed_;
  std::uint8_t*& held = pictures_[frame];
  if (held != nullptr) free_slots_.push_back(held);
  held = slot;
  evict(position);
}

void PictureCache::release(std::uint8_t* slot) {
  --borrowed_;
  free_slots_.push_back(slot);
}

void PictureCache::clear() {
  pictures_.clear();
  free_slots_.clear();
  for (const Slab& slab : slabs_) give_back(slab.bytes, slab.size);
  slabs_.clear();
  picture_bytes_ = 0;
  borrowed_ = 0;
}

// The ends of the frame order are the candidates: the picture farthest from the position is
// always the first or the last one.
void PictureCache::evict(std::uint32_t position) {
  while (!pictures_.empty() && (pictures_.size() + borrowed_) * picture_bytes_ > limit_) {
    const auto first = pictures_.begin();
    const auto last = std::prev(pictures_.end());
    const auto victim =
        distance(first->first, position) >= distance(last->first, position) ? first : last;
    free_slots_.push_back(victim->second);
    pictures_.erase(victim);
  }
}

}  // namespace avikit
