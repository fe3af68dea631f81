#pragma once
// Colours as a video stream describes them. A picture tagged BT.709 (H.264, MPEG-2 and MPEG-4
// streams carry the tag in their headers) is converted with the BT.709 matrix; every other
// picture keeps BT.601, so untagged streams give the bytes they always gave.

#include <cstdint>

struct AVFrame;
struct SwsContext;

namespace avikit::hostlib {

// These two take libav types and live in the codec module (stream_colour_av.cpp).
// Points a context that converts `frame` to RGB at the frame's matrix and range. It changes
// nothing for an untagged studio-range picture, and nothing once the context is set.
void follow_colour_details(SwsContext* sws, const AVFrame& frame);

// True for a picture whose YUV must be re-expressed for the bitmaps' BT.601 conversion.
bool needs_bt601_yuv(const AVFrame& frame);

// Turns the studio-range BT.709 YUV of a width x height bitmap (12 bits: YV12; 16 bits: YUY2,
// in dib_layout's geometry) into the BT.601 YUV of the same colours, in place, so that
// YV12_2_RGB and YUY2_2_Rgb24 show them right. Each luma sample takes its own pixel's chroma
// sample, as those conversions do.
void bt709_to_bt601_yuv(std::uint8_t* bitmap, int width, int height, int bits);

}  // namespace avikit::hostlib
