#pragma once
// Decoded pictures kept for stepping backwards: stepping back one frame at a time through a run
// of a long-GOP stream would otherwise decode the run from its key frame for every step. The
// pictures are the bytes of the reader's bitmap in the prepared output format, so a picture
// served from here is byte for byte what decoding would write.
//
// Bounded by bytes; when full, the pictures farthest from the position asked last go first.
// One cache per SharedAviFile: the players of one thread share it, and no other thread sees it,
// so it takes no lock. The slabs a cache lets go of wait in a process-wide pool (under a lock)
// for the next cache: the kernel zeroing fresh pages for a run's pictures cost a fifth of
// stepping back through the run, paid again by every player opened anew.

#include <cstdint>
#include <map>
#include <vector>

namespace avikit {

class PictureCache {
 public:
  PictureCache() = default;
  ~PictureCache() { clear(); }
  PictureCache(const PictureCache&) = delete;
  PictureCache& operator=(const PictureCache&) = delete;

  // The bound in bytes; pictures over it are dropped at once. 0 keeps nothing.
  void set_limit(std::uint64_t bytes);
  // Whether a picture of `bytes` bytes for `frame` would stay while the position is `position`
  // (it is not farther from it than the bound's worth of pictures).
  bool worth_keeping(std::uint32_t frame, std::uint32_t position, std::size_t bytes) const;
  // The picture of `frame` (picture_bytes() long), or null.
  const std::uint8_t* find(std::uint32_t frame) const;
  // Keeps a copy of `size` bytes as the picture of `frame`, the position being `position`. All
  // pictures have one size: a picture of another size empties the cache first.
  void put(std::uint32_t frame, std::uint32_t position, const std::uint8_t* bytes,
           std::size_t size);
  // A free slot of `size` bytes for a picture to be decoded straight into, counted against the
  // bound (pictures farthest from `position` make room) until adopted or released; null when
  // none can be had.
  std::uint8_t* borrow(std::uint32_t position, std::size_t size);
  // Makes a borrowed slot, now holding the picture of `frame`, part of the cache.
  void adopt(std::uint32_t frame, std::uint32_t position, std::uint8_t* slot);
  void release(std::uint8_t* slot);
  void clear();
  std::size_t picture_bytes() const { return picture_bytes_; }
  std::size_t size() const { return pictures_.size(); }

 private:
  struct Slab {
    std::uint8_t* bytes;
    std::size_t size;
  };

  // Whether pictures of `size` bytes can be held; a new size empties the cache first.
  bool hold_size(std::size_t size);
  std::uint8_t* take_slot();
  void evict(std::uint32_t position);

  std::map<std::uint32_t, std::uint8_t*> pictures_;  // frame -> its slot
  // Slots live in large slabs that the kernel can back with huge pages: a fresh allocation per
  // picture cost more in page faults than decoding the picture.
  std::vector<Slab> slabs_;
  std::vector<std::uint8_t*> free_slots_;
  std::size_t picture_bytes_ = 0;
  std::size_t borrowed_ = 0;
  std::uint64_t limit_ = 0;
};

}  // namespace avikit
