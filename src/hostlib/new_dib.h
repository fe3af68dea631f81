#pragma once
// The support library's bitmap: a BITMAPINFOHEADER and its pixels, in one of the three layouts
// of hostlib/dib_layout.h (YV12, YUY2, bottom-up 24-bit RGB).
//
// The fields are public and stand in a fixed order because the module reads and writes them
// directly (it constructs the object in place and may set the compression after Create).
// The pixel memory is either a plain pointer (direct == 1) or a movable global handle
// (direct == 0) that LockBits locks.

#include <avikit/platform/win_types.h>

#include <cstdint>

#include "hostlib/dib_layout.h"

namespace avikit {

inline constexpr std::uint32_t kNewDibTag = platform::fourcc("BIDN");

class CNewDib {
 public:
  CNewDib();
  virtual ~CNewDib();
  CNewDib(const CNewDib& other);
  // A deep copy of the other bitmap's header and pixels; an empty source empties this one.
  CNewDib& operator=(const CNewDib& other);

  // Allocates a width x height bitmap of 12 (YV12), 16 (YUY2) or 24 (RGB) bits, black,
  // replacing any previous picture. `movable` asks for a
  // movable global handle instead of plain memory. 1 on success; 0 (and an empty bitmap) for a
  // bad size or depth, or no memory.
  int Create(int width, int height, int bits, bool movable);
  // As Create in plain memory, but the pixels are not written: the memory of a large bitmap is
  // only touched by the first picture written into it. Nothing may read them before that; row
  // padding a picture does not cover keeps what the allocator gave (zero in the fresh pages a
  // large allocation gets).
  int CreateUnwritten(int width, int height, int bits);
  // The pixels; null when empty.
  std::uint8_t* LockBits() const;
  // Bytes per row (the luma row for YV12); 0 when empty.
  int GetPitch() const;
  // Frees the picture; the object can be created again.
  void clear();

  int width() const { return header != nullptr ? header->biWidth : 0; }
  int height() const { return header != nullptr ? header->biHeight : 0; }
  std::uint32_t compression() const { return header != nullptr ? header->biCompression : 0; }
  std::uint32_t image_bytes() const { return image_size; }

  // The fixed layout. Every raw pointer here is owned by this object.
  std::uint32_t tag;                   // "BIDN"
  std::uint32_t image_size;            // bytes of pixel memory
  void* memory;                        // pixels, or an HGLOBAL when direct == 0
  platform::BITMAPINFOHEADER* header;  // null when empty
  std::int32_t direct;                 // 1: memory is the pixel pointer
  std::uint32_t reserved[3];

 private:
  int allocate(int width, int height, int bits, bool movable);
  void release();
};

}  // namespace avikit
