#include "video/picture_cache.h"

#include <iterator>

namespace {

std::uint32_t distance(std::uint32_t a, std::uint32_t b) { return a > b ? a - b : b - a; }

}  // namespace

void PictureCache::set_limit(std::uint64_t bytes) {
  limit_ = bytes;
  if (bytes_ > limit_) evict(pictures_.empty() ? 0 : pictures_.begin()->first);
}

bool PictureCache::worth_keeping(std::uint32_t frame, std::uint32_t position,
                                 std::size_t bytes) const {
  return bytes > 0 && distance(frame, position) < limit_ / bytes;
}

const std::vector<std::uint8_t>* PictureCache::find(std::uint32_t frame) {
  const auto it = pictures_.find(frame);
  return it == pictures_.end() ? nullptr : &it->second;
}

void PictureCache::put(std::uint32_t frame, std::uint32_t position, const std::uint8_t* bytes,
                       std::size_t size) {
  if (size == 0 || size > limit_) return;
  std::vector<std::uint8_t>& slot = pictures_[frame];
  bytes_ -= slot.size();
  slot.assign(bytes, bytes + size);
  bytes_ += size;
  evict(position);
}

void PictureCache::clear() {
  pictures_.clear();
  bytes_ = 0;
}

// The ends of the frame order are the candidates: the picture farthest from the position is
// always the first or the last one.
void PictureCache::evict(std::uint32_t position) {
  while (bytes_ > limit_ && !pictures_.empty()) {
    const auto first = pictures_.begin();
    const auto last = std::prev(pictures_.end());
    const auto victim =
        distance(first->first, position) >= distance(last->first, position) ? first : last;
    bytes_ -= victim->second.size();
    pictures_.erase(victim);
  }
}
