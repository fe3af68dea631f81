#pragma once
// The frame-accurate walk over the codec manager for a driver that numbers its pictures
// (hostlib/avcodec_driver.h): frame f is the f-th picture in display order, even with B-frames
// and open GOPs, reached by feeding chunks from the right key frame and draining at the end.
// The player and the driver's tests both walk through here.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <span>

namespace avikit::hostlib {

inline constexpr std::uint32_t kNoFrame = 0xFFFFFFFFu;

// The chunks of one video stream, and what the walk may keep of the pictures it passes.
class WalkChunks {
 public:
  virtual std::uint32_t count() const = 0;
  // The size the index gives: 0 is a dropped frame, shown as the picture before it.
  virtual std::uint32_t size(std::uint32_t chunk) const = 0;
  virtual std::span<const std::uint32_t> key_frames() const = 0;  // ascending
  // The chunk's bytes, valid until the next read; fewer than size() after a read error.
  virtual std::span<const std::uint8_t> read(std::uint32_t chunk) = 0;
  // Asked only by a walk told to keep pictures: whether frame's picture is worth keeping for
  // requests near target, and, after the driver wrote it whole into the destination, keeping it.
  virtual bool worth_keeping(std::uint32_t /*frame*/, std::uint32_t /*target*/) { return false; }
  virtual void keep(std::uint32_t /*frame*/, std::uint32_t /*target*/) {}

 protected:
  ~WalkChunks() = default;
};

// The driver, begun on these formats, and the bitmap its pictures go into.
struct WalkTarget {
  platform::HIC ic = nullptr;
  platform::BITMAPINFOHEADER* input =
      nullptr;  // the stream's format block; biSizeImage set per chunk
  platform::BITMAPINFOHEADER* output = nullptr;
  void* destination = nullptr;
  bool intra_only = false;  // the codec decodes any frame alone (ICM_AVK_IS_INTRA_ONLY)
};

// The run the driver is in, kept between requests into the same destination.
struct CodecRun {
  std::uint32_t key = kNoFrame;  // key frame the run started at; kNoFrame: none
  std::uint32_t next_chunk = 0;  // the next chunk the run takes
  bool hurried = false;          // the last chunk went in with ICDECOMPRESS_HURRYUP

  // Decodes `frame` into the destination, going on with the run where it can. On success the
  // destination holds the frame (or, before the first key frame's pictures, the first one);
  // on failure it keeps what the driver last wrote. *shown is the frame it holds, kNoFrame when
  // that is not a picture of the run. keep_passed: offer the pictures passed on the way.
  bool walk_to(const WalkTarget& t, WalkChunks& chunks, std::uint32_t frame, bool keep_passed,
               std::uint32_t* shown);

 private:
  bool feed(const WalkTarget& t, WalkChunks& chunks, std::uint32_t chunk, bool starts, bool hurry);
  bool play_to(const WalkTarget& t, WalkChunks& chunks, std::uint32_t frame, bool keep_passed,
               bool* leading);
};

}  // namespace avikit::hostlib
