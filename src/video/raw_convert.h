#pragma once
// Uncompressed Windows bitmap rows (1, 4, 8, 16 or 32 bits a pixel) to 24-bit rows, for raw
// video streams whose depth differs from the 24-bit frame bitmap.

#include <cstdint>
#include <span>

namespace avikit {

// `format` is the stream's input format block: a 40-byte BITMAPINFOHEADER and, for 1, 4 and 8
// bits, the RGBQUAD colour table after it; 16 bits are 5-5-5 unless the header says BI_BITFIELDS
// with the 5-6-5 masks after it. Rows are converted in stored order, biHeight rows of
// biWidth pixels, each row padded to four bytes on both sides; pixels come out blue, green, red.
// Nothing happens when a span is empty, source and destination overlap, biHeight is below 1,
// or biBitCount is 0 or above 32; a depth of 2, 24 or any other not listed converts nothing.
// Bounds: only the rows the destination holds are written; a row the source does not hold in
// full (a short chunk) becomes black, and colour-table entries past the block read as black.
void convert_raw_to_rgb24(std::span<const std::uint8_t> format,
                          std::span<const std::uint8_t> source,
                          std::span<std::uint8_t> destination);

// The same for a top-down bitmap (negative biHeight, as ffmpeg stores uncompressed video):
// -biHeight rows, the first stored row becoming the last row of the bottom-up destination.
// 24-bit rows are copied as they are; the other depths as above.
void convert_top_down_raw_to_rgb24(std::span<const std::uint8_t> format,
                                   std::span<const std::uint8_t> source,
                                   std::span<std::uint8_t> destination);

}  // namespace avikit
