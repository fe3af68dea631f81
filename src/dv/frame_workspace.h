#pragma once
// Work buffers of one decoder: the segment state and the planar picture, which the decoder
// keeps apart from the caller's output so that the colour stages can run line by line.

#include <cstdint>

#include "dv/colour.h"
#include "dv/frame_decoder.h"
#include "dv/segment_fast.h"

namespace avikit::dv {

inline constexpr std::size_t kPlanarBytesMax = picture_format(true).planar_bytes;

struct FrameWorkspace {
  FastSegments segments;
  alignas(64) std::uint8_t planar[kPlanarBytesMax];
  alignas(32) std::int8_t line_cb[kDoubledChromaPadded];
  alignas(32) std::int8_t line_cr[kDoubledChromaPadded];
};

// Decodes all segments into work.planar (the fast path; coefficients must be zero on entry and
// are zero again on return).
void decode_segments(const std::uint8_t* frame, bool is625, FrameWorkspace& work);
// The colour stages from work.planar into the BGR picture.
void convert_planar(bool is625, FrameWorkspace& work, std::uint8_t* out);

}  // namespace avikit::dv
