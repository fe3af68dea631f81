#pragma once
// Decoded pictures kept for stepping backwards: stepping back one frame at a time through a run
// of a long-GOP stream would otherwise decode the run from its key frame for every step. The
// pictures are the bytes of the reader's bitmap in the prepared output format, so a picture
// served from here is byte for byte what decoding would write.
//
// Bounded by bytes; when full, the pictures farthest from the position asked last go first.
// One cache per SharedAviFile: the players of one thread share it, and no other thread sees it,
// so it takes no lock.

#include <cstdint>
#include <map>
#include <vector>

class PictureCache {
 public:
  // The bound in bytes; pictures over it are dropped at once. 0 keeps nothing.
  void set_limit(std::uint64_t bytes);
  std::uint64_t limit() const { return limit_; }
  // Whether a picture of `bytes` bytes for `frame` would stay while the position is `position`
  // (it is not farther from it than the bound's worth of pictures).
  bool worth_keeping(std::uint32_t frame, std::uint32_t position, std::size_t bytes) const;
  // The picture of `frame`, or null.
  const std::vector<std::uint8_t>* find(std::uint32_t frame);
  // Keeps a copy of `bytes` as the picture of `frame`, the position being `position`.
  void put(std::uint32_t frame, std::uint32_t position, const std::uint8_t* bytes,
           std::size_t size);
  void clear();
  std::uint64_t bytes() const { return bytes_; }
  std::size_t size() const { return pictures_.size(); }

 private:
  void evict(std::uint32_t position);

  std::map<std::uint32_t, std::vector<std::uint8_t>> pictures_;
  std::uint64_t bytes_ = 0;
  std::uint64_t limit_ = 0;
};
