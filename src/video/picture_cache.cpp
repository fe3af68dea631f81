#include "video/picture_cache.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

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

}  // namespace

void PictureCache::FreeSlab::operator()(std::uint8_t* p) const { std::free(p); }

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
    const std::size_t bytes = (per_slab * picture_bytes_ + kHugePage - 1) / kHugePage * kHugePage;
    auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kHugePage, bytes));
    if (p == nullptr) return nullptr;
    ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without huge pages it works all the same
    populate(p, bytes);
    slabs_.emplace_back(p);
    for (std::size_t i = per_slab; i-- > 0;) free_slots_.push_back(p + i * picture_bytes_);
  }
  std::uint8_t* slot = free_slots_.back();
  free_slots_.pop_back();
  return slot;
}

void PictureCache::put(std::uint32_t frame, std::uint32_t position, const std::uint8_t* bytes,
                       std::size_t size) {
  if (size == 0 || size > limit_) return;
  if (size != picture_bytes_) {
    clear();
    picture_bytes_ = size;
  }
  std::uint8_t*& slot = pictures_[frame];
  if (slot == nullptr) slot = take_slot();
  if (slot == nullptr) {
    pictures_.erase(frame);
    return;
  }
  std::memcpy(slot, bytes, size);
  evict(position);
}

void PictureCache::clear() {
  pictures_.clear();
  free_slots_.clear();
  slabs_.clear();
  picture_bytes_ = 0;
}

// The ends of the frame order are the candidates: the picture farthest from the position is
// always the first or the last one.
void PictureCache::evict(std::uint32_t position) {
  while (!pictures_.empty() && pictures_.size() * picture_bytes_ > limit_) {
    const auto first = pictures_.begin();
    const auto last = std::prev(pictures_.end());
    const auto victim =
        distance(first->first, position) >= distance(last->first, position) ? first : last;
    free_slots_.push_back(victim->second);
    pictures_.erase(victim);
  }
}

}  // namespace avikit
